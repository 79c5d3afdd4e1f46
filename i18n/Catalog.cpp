#include "Catalog.h"

#include <fcntl.h>
#include <libintl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "CatalogCheck.h"

namespace vardelio {
namespace {

// The one language glibc is told. The checked copy is the only catalog under it, so glibc's
// own fallbacks (es_AR to es, further languages) have nothing else to read.
constexpr const char* kLanguage = "vardelio";

// glibc ignores the chosen language while the messages locale is "C", which it is whenever
// the user's locale is not generated on the machine; lookups run under C.UTF-8 instead.
class TMessagesLocale {
 public:
  TMessagesLocale() : previous_(uselocale(Locale())) {}
  ~TMessagesLocale() { uselocale(previous_); }
  TMessagesLocale(const TMessagesLocale&) = delete;
  TMessagesLocale& operator=(const TMessagesLocale&) = delete;

 private:
  static locale_t Locale() {
    static const locale_t locale = newlocale(LC_MESSAGES_MASK, "C.UTF-8", locale_t(nullptr));
    return locale != locale_t(nullptr) ? locale : LC_GLOBAL_LOCALE;
  }
  locale_t previous_;
};

[[noreturn]] void Fail(const std::string& text) {
  throw ETranslationError(text);
}

[[noreturn]] void FailToLoad(const std::string& path, int error) {
  Fail("Cannot map file " + path + " into memory. Reason: " + std::strerror(error));
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file's bytes as they are now; what becomes of the file afterwards no longer matters.
// Exactly as many as there are, so that a sanitizer sees any read past them.
std::vector<unsigned char> ReadCatalog(const std::string& path) {
  // Non-blocking: a FIFO put in the catalog's place must not hang the lookup.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) Fail("Cannot open file " + path);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // a device or FIFO cannot be mapped
    close(fd);
    Fail("Cannot create memory map on file " + path);
  }
  std::vector<unsigned char> bytes;
  int error = 0;
  try {
    bytes.resize(std::size_t(st.st_size));
  } catch (const std::bad_alloc&) {
    error = ENOMEM;
  }
  std::size_t done = 0;
  while (error == 0 && done < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
    if (n == 0) break;  // shrunk meanwhile: what was read is what gets checked
    if (n > 0) done += std::size_t(n);
    if (n < 0 && errno != EINTR) error = errno;
  }
  close(fd);
  if (error != 0) FailToLoad(path, error);
  bytes.resize(done);
  bytes.shrink_to_fit();
  return bytes;
}

// A folder of the process's own holding the checked bytes as <folder>/vardelio/LC_MESSAGES/
// <domain>.mo, removed with everything in it at the end of the scope. Its name is new for
// every copy: glibc keeps a catalog it loaded for as long as its path stays the same.
class TPrivateCopy {
 public:
  TPrivateCopy(const std::vector<unsigned char>& bytes, const std::string& domain,
               const std::string& path) {
    static std::atomic<unsigned> copies{0};
    const std::string name = "/vardelio-catalog-" + std::to_string(copies++) + "-XXXXXX";
    const char* const bases[] = {std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR"), "/tmp"};
    for (const char* base : bases) {
      if (base == nullptr || base[0] != '/') continue;
      std::string folder = base + name;
      if (mkdtemp(folder.data()) != nullptr) {
        folder_ = folder;
        break;
      }
    }
    if (folder_.empty()) FailToLoad(path, errno);
    const int error = Write(bytes, domain);
    if (error != 0) {
      Remove();
      FailToLoad(path, error);
    }
  }
  ~TPrivateCopy() { Remove(); }
  TPrivateCopy(const TPrivateCopy&) = delete;
  TPrivateCopy& operator=(const TPrivateCopy&) = delete;
  const std::string& Folder() const { return folder_; }

 private:
  int Write(const std::vector<unsigned char>& bytes, const std::string& domain) {
    if (mkdir((folder_ + "/" + kLanguage).c_str(), 0700) != 0) return errno;
    if (mkdir((folder_ + "/" + kLanguage + "/LC_MESSAGES").c_str(), 0700) != 0) return errno;
    file_ = folder_ + "/" + kLanguage + "/LC_MESSAGES/" + domain + ".mo";
    const int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    std::size_t done = 0;
    int error = 0;
    while (error == 0 && done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += std::size_t(n);
      if (n < 0 && errno != EINTR) error = errno;
      if (n == 0) error = EIO;
    }
    if (close(fd) != 0 && error == 0) error = errno;
    return error;
  }
  void Remove() {
    if (!file_.empty()) unlink(file_.c_str());
    rmdir((folder_ + "/" + kLanguage + "/LC_MESSAGES").c_str());
    rmdir((folder_ + "/" + kLanguage).c_str());
    rmdir(folder_.c_str());
  }

  std::string folder_;
  std::string file_;
};

}  // namespace

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

void TCatalogFile::Open(const std::string& path, const std::string& domain) {
  Close();
  const std::vector<unsigned char> bytes = ReadCatalog(path);
  if (!IsSoundCatalog(bytes.data(), bytes.size())) {
    Fail("This file is not a valid GNU gettext mo file: " + path);
  }
  const TPrivateCopy copy(bytes, domain, path);
  const char* language = std::getenv("LANGUAGE");
  if (language == nullptr || std::strcmp(language, kLanguage) != 0) {
    setenv("LANGUAGE", kLanguage, 1);
  }
  bindtextdomain(domain.c_str(), copy.Folder().c_str());
  bind_textdomain_codeset(domain.c_str(), "UTF-8");
  {
    const TMessagesLocale messages;
    dgettext(domain.c_str(), "");  // glibc loads the whole catalog now, while the copy is there
  }
  path_ = path;
  domain_ = domain;
}

void TCatalogFile::Close() {
  path_.clear();
  domain_.clear();
}

std::string TCatalogFile::LookUp(const std::string& id) const {
  if (!IsOpen() || id.empty()) return id;
  const TMessagesLocale messages;
  return dgettext(domain_.c_str(), id.c_str());
}

}  // namespace vardelio
