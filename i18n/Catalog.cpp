#include "Catalog.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace vardelio {
namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::uint32_t kSwappedMagic = 0xde120495;
constexpr off_t kHeaderSize = 28;  // magic, revision, count, two tables, hash size and place

// The header and every table glibc will follow, checked before it follows them: libintl
// trusts a catalog's offsets, and a damaged file beside the program must not crash it.
class TCatalogLayout {
 public:
  TCatalogLayout(const unsigned char* data, std::size_t size, bool swapped)
      : data_(data), size_(size), swapped_(swapped) {}

  bool WellFormed() const {
    if ((Word(4) >> 16) != 0) return false;  // only the plain format
    const std::uint64_t count = Word(8);
    return StringsFit(Word(12), count) && StringsFit(Word(16), count) &&
           HashFits(Word(20), Word(24), count);
  }

 private:
  std::uint32_t Word(std::uint64_t at) const {
    std::uint32_t value;
    std::memcpy(&value, data_ + at, sizeof value);
    return swapped_ ? __builtin_bswap32(value) : value;
  }
  bool Fits(std::uint64_t at, std::uint64_t length) const {
    return at <= size_ && length <= size_ - at;
  }
  // A table of (length, offset) pairs, each string inside the file and ending in a NUL.
  bool StringsFit(std::uint64_t table, std::uint64_t count) const {
    if (!Fits(table, count * 8)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t length = Word(table + 8 * i), offset = Word(table + 8 * i + 4);
      if (!Fits(offset, length + 1) || data_[offset + length] != '\0') return false;
    }
    return true;
  }
  // glibc steps through the table modulo (size - 2); every entry names a string or none.
  bool HashFits(std::uint64_t hashSize, std::uint64_t table, std::uint64_t count) const {
    if (hashSize == 0) return true;
    if (hashSize <= 2 || !Fits(table, hashSize * 4)) return false;
    for (std::uint64_t i = 0; i < hashSize; ++i) {
      if (Word(table + 4 * i) > count) return false;
    }
    return true;
  }

  const unsigned char* data_;
  std::size_t size_;
  bool swapped_;
};

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

TCatalogFile::~TCatalogFile() {
  Close();
}

std::string TCatalogFile::Find(const std::string& folder, const std::string& language,
                               const std::string& domain) {
  const auto candidate = [&](const std::string& code) {
    return folder + "/" + code + "/LC_MESSAGES/" + domain + ".mo";
  };
  if (IsFile(candidate(language))) return candidate(language);
  if (language.size() > 2 && IsFile(candidate(language.substr(0, 2)))) {
    return candidate(language.substr(0, 2));
  }
  return {};
}

void TCatalogFile::Open(const std::string& path) {
  Close();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ETranslationError("Cannot open file " + path);
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    throw ETranslationError("Cannot create memory map on file " + path);
  }
  if (st.st_size < kHeaderSize) {  // no room even for the header: nothing to map
    close(fd);
    throw ETranslationError("This file is not a valid GNU gettext mo file: " + path);
  }
  void* data = mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  const int error = errno;
  close(fd);
  if (data == MAP_FAILED) {
    throw ETranslationError("Cannot map file " + path +
                            " into memory. Reason: " + std::strerror(error));
  }
  std::uint32_t magic = 0;
  std::memcpy(&magic, data, sizeof magic);
  const TCatalogLayout layout(static_cast<const unsigned char*>(data), std::size_t(st.st_size),
                              magic == kSwappedMagic);
  if ((magic != kMagic && magic != kSwappedMagic) || !layout.WellFormed()) {
    munmap(data, std::size_t(st.st_size));
    throw ETranslationError("This file is not a valid GNU gettext mo file: " + path);
  }
  data_ = data;
  size_ = std::size_t(st.st_size);
  path_ = path;
}

void TCatalogFile::Close() {
  if (data_ != nullptr) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
  path_.clear();
}

}  // namespace vardelio
