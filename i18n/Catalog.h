#pragma once
// A domain's message catalog file: found by language, checked, and kept mapped.

#include <stdexcept>
#include <string>

namespace vardelio {

// A lookup that failed; what() is the text to show.
class ETranslationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCatalogFile {
 public:
  TCatalogFile() = default;
  ~TCatalogFile();
  TCatalogFile(const TCatalogFile&) = delete;
  TCatalogFile& operator=(const TCatalogFile&) = delete;

  // `folder`/<language>/LC_MESSAGES/<domain>.mo, else the same with the language's first two
  // letters; empty when neither exists.
  static std::string Find(const std::string& folder, const std::string& language,
                          const std::string& domain);

  // Maps the file and checks it is a GNU .mo catalog (either byte order); raises
  // ETranslationError with the file's path when it cannot be opened, mapped or is not one.
  void Open(const std::string& path);
  void Close();
  bool IsOpen() const { return data_ != nullptr; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace vardelio
