#pragma once
// Writes GNU .mo catalogs byte by byte (little-endian), and patches words of existing ones.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace vardelio::test {

// The translations, sorted, with the header entry first (a UTF-8 one unless given); `hash` is
// written as the hash table when given (no table otherwise).
inline std::string MoBytes(std::map<std::string, std::string> translations,
                           const std::vector<std::uint32_t>& hash = {}) {
  translations.try_emplace("", "Content-Type: text/plain; charset=UTF-8\n");  // sorted first
  const std::uint32_t count = std::uint32_t(translations.size());
  const std::uint32_t originals = 28, targets = originals + 8 * count;
  const std::uint32_t hashAt = targets + 8 * count;
  std::uint32_t offset = hashAt + 4 * std::uint32_t(hash.size());
  std::string strings;
  const auto put = [](std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      out += char((v >> (8 * i)) & 0xff);
  };
  std::string originalTable, targetTable, hashTable;
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
  for (const std::uint32_t entry : hash)
    put(hashTable, entry);
  std::string header;
  for (const std::uint32_t v :
       {0x950412deu, 0u, count, originals, targets, std::uint32_t(hash.size()), hashAt})
    put(header, v);
  return header + originalTable + targetTable + hashTable + strings;
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteMoFile(const std::filesystem::path& path,
                        std::map<std::string, std::string> translations) {
  WriteBytes(path, MoBytes(std::move(translations)));
}

// The little-endian word at `at`.
inline std::uint32_t MoWord(const std::string& bytes, std::uint32_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | std::uint8_t(bytes.at(at + std::uint32_t(i)));
  return v;
}

inline void SetMoWord(std::string& bytes, std::uint32_t at, std::uint32_t value) {
  for (std::uint32_t i = 0; i < 4; ++i)
    bytes.at(at + i) = char((value >> (8 * i)) & 0xff);
}

}  // namespace vardelio::test
