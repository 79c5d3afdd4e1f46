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
  if (fstat(fd, &st) != 0 || st.st_size < 4) {
    close(fd);
    if (st.st_size < 4)
      throw ETranslationError("This file is not a valid GNU gettext mo file: " + path);
    throw ETranslationError("Cannot create memory map on file " + path);
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
  if (magic != kMagic && magic != kSwappedMagic) {
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
