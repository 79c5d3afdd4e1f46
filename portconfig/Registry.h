#pragma once
// A small file-backed registry: keys are folders, each value a file holding its type and
// data. Linux has no registry; this gives the port's registry kind somewhere to live.

#include <stdexcept>
#include <string>

namespace vardelio {

class ERegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TRegistryRoot { CurrentUser, LocalMachine };

// Where the registry's folders live: $XDG_CONFIG_HOME/vardelio/registry unless set.
void SetRegistryFolder(const std::string& folder);
std::string RegistryFolder();

class TRegistry {
 public:
  TRegistryRoot RootKey = TRegistryRoot::CurrentUser;

  // Opens the key below the root, creating it and its parents when `create` is set.
  bool OpenKey(const std::string& path, bool create);
  bool HasOpenKey() const { return !keyFolder_.empty(); }

  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, std::int32_t value);
  // An absent value reads as empty text; a value of another type raises.
  std::string ReadString(const std::string& name) const;
  // An absent value, or one of another type, raises.
  std::int32_t ReadInteger(const std::string& name) const;

 private:
  std::string ValuePath(const std::string& name) const;
  void Write(const std::string& name, const std::string& type, const std::string& data);
  // False when the value is absent.
  bool Read(const std::string& name, std::string& type, std::string& data) const;

  std::string keyFolder_;
};

}  // namespace vardelio
