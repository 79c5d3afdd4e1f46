#pragma once
// Writes a GNU .mo catalog (little-endian, no hash table) with the given translations.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace vardelio::test {

inline void WriteMoFile(const std::filesystem::path& path,
                        std::map<std::string, std::string> translations) {
  translations[""] = "Content-Type: text/plain; charset=UTF-8\n";  // sorted first
  const std::uint32_t count = std::uint32_t(translations.size());
  const std::uint32_t originals = 28, targets = originals + 8 * count;
  std::uint32_t offset = targets + 8 * count;
  std::string tables, strings;
  const auto put = [](std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      out += char((v >> (8 * i)) & 0xff);
  };
  std::string originalTable, targetTable;
  for (const auto& [id, text] : translations) {
    put(originalTable, std::uint32_t(id.size()));
    put(originalTable, offset);
    strings += id + '\0';
    offset += std::uint32_t(id.size() + 1);
  }
  for (const auto& [id, text] : translations) {
    put(targetTable, std::uint32_t(text.size()));
    put(targetTable, offset);
    strings += text + '\0';
    offset += std::uint32_t(text.size() + 1);
  }
  std::string header;
  for (const std::uint32_t v : {0x950412deu, 0u, count, originals, targets, 0u, 0u})
    put(header, v);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << header << originalTable << targetTable << strings;
}

}  // namespace vardelio::test
