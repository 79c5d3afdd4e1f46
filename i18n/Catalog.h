#pragma once
// A domain's message catalog file: found by language, checked, and handed to libintl.

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
  TCatalogFile(const TCatalogFile&) = delete;
  TCatalogFile& operator=(const TCatalogFile&) = delete;

  // `folder`/<language>/LC_MESSAGES/<domain>.mo, else the same with the language's first two
  // letters; empty when neither exists.
  static std::string Find(const std::string& folder, const std::string& language,
                          const std::string& domain);

  // Reads the file once, checks it is a sound GNU .mo catalog (either byte order) and has
  // libintl load exactly those bytes for `domain`, and no other file. Raises
  // ETranslationError with the file's path when it cannot be opened, read or is not one.
  void Open(const std::string& path, const std::string& domain);
  void Close();
  bool IsOpen() const { return !domain_.empty(); }
  const std::string& Path() const { return path_; }
  // The catalog's translation of `id`, or `id` itself.
  std::string LookUp(const std::string& id) const;

 private:
  std::string path_;
  std::string domain_;
};

}  // namespace vardelio
