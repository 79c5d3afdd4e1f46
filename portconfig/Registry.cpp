#include "Registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ProfileFile.h"
#include "SettingsText.h"

namespace vardelio {
namespace {

std::string folderOverride;

const char* RootName(TRegistryRoot root) {
  return root == TRegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

// Value names may hold any byte but "/" and NUL cannot stand in a file name.
std::string FileNameFor(const std::string& name) {
  std::string file;
  for (const char c : name) {
    if (c == '/' || c == '%' || c == '\0') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      file += escaped;
    } else {
      file += c;
    }
  }
  return file.empty() || file == "." || file == ".." ? "%" + file : file;
}

}  // namespace

void SetRegistryFolder(const std::string& folder) {
  folderOverride = folder;
}

std::string RegistryFolder() {
  return folderOverride.empty() ? ConfigFolder() + "/registry" : folderOverride;
}

bool TRegistry::OpenKey(const std::string& path, bool create) {
  std::string folder = RegistryFolder() + "/" + RootName(RootKey);
  std::stringstream parts(path);
  for (std::string part; std::getline(parts, part, '\\');) {
    if (part.empty() || part == "." || part == "..") continue;  // never climb out
    folder += '/';
    folder += FileNameFor(part);
  }
  struct stat st {};
  const bool exists = stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (!exists) {
    if (!create) return false;
    try {
      MakeFolders(folder);
    } catch (const EProfileError&) {
      return false;
    }
  }
  keyFolder_ = folder;
  return true;
}

std::string TRegistry::ValuePath(const std::string& name) const {
  if (keyFolder_.empty()) throw ERegistryError("No registry key is open");
  return keyFolder_ + "/" + FileNameFor(name);
}

void TRegistry::Write(const std::string& name, const std::string& type, const std::string& data) {
  const std::string path = ValuePath(name);
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << type << '\n' << data;
    if (!out.flush()) throw ERegistryError("Cannot write registry value " + name);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    throw ERegistryError("Cannot write registry value " + name);
  }
}

bool TRegistry::Read(const std::string& name, std::string& type, std::string& data) const {
  std::ifstream in(ValuePath(name), std::ios::binary);
  if (!in) return false;
  std::getline(in, type);
  std::stringstream rest;
  rest << in.rdbuf();
  data = rest.str();
  return true;
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  Write(name, "REG_SZ", value);
}

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  Write(name, "REG_DWORD", std::to_string(value));
}

std::string TRegistry::ReadString(const std::string& name) const {
  if (keyFolder_.empty()) return {};  // no key: every string reads empty
  std::string type, data;
  if (!Read(name, type, data)) return {};
  if (type != "REG_SZ") throw ERegistryError("Registry value " + name + " is not a string");
  return data;
}

std::int32_t TRegistry::ReadInteger(const std::string& name) const {
  std::string type, data;
  if (!Read(name, type, data)) throw ERegistryError("Registry value " + name + " is absent");
  const auto value = ParseIntegerText(data);
  if (type != "REG_DWORD" || !value) {
    throw ERegistryError("Registry value " + name + " is not an integer");
  }
  return *value;
}

}  // namespace vardelio
