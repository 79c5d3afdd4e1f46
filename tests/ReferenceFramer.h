#pragma once
// The framer's rules written the plain way (copies, substrings, one erase per packet), to
// check the real framer against on random streams.

#include <string>
#include <vector>

namespace vardelio::test {

struct TReferenceFramer {
  std::string start, stop;
  int size = 0;
  bool caseInsensitive = false, includeStrings = false;
  int maxBuffer = 1024;
  std::string buffer;
  bool open = false;
  std::vector<std::string> packets, discards;

  std::string Fold(std::string text) const {
    if (caseInsensitive) {
      for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
      }
    }
    return text;
  }
  std::size_t PositionOf(const std::string& what, const std::string& in) const {
    if (what.empty()) return 0;
    const std::size_t at = Fold(in).find(Fold(what));
    return at == std::string::npos ? 0 : at + 1;
  }
  void Append(const std::string& data) {
    if (size <= 0 && stop.empty()) {
      packets.push_back(data);
      return;
    }
    buffer += data;
    for (;;) {
      if (!open) FindStart();
      if (!open) break;
      const std::size_t before = buffer.size();
      FindEnd();
      if (open) break;
      if (before == 0 && buffer.empty()) break;
    }
    if (maxBuffer > 0 && buffer.size() >= std::size_t(maxBuffer) && !buffer.empty()) {
      discards.push_back(buffer);
      buffer.clear();
      open = false;
    }
  }
  void FindStart() {
    if (start.empty()) {
      open = true;
    } else if (const std::size_t at = PositionOf(start, buffer); at > 0) {
      open = true;
      if (at > 1) {
        discards.push_back(buffer.substr(0, at - 1));
        buffer.erase(0, at - 1);
      }
    }
  }
  void FindEnd() {
    std::size_t length;
    if (size > 0 && buffer.size() >= std::size_t(size)) {
      length = std::size_t(size);
    } else {
      const std::size_t skip = std::min(start.size(), buffer.size());
      const std::size_t at = PositionOf(stop, buffer.substr(skip));
      if (at == 0) return;
      length = skip + at + stop.size() - 1;
    }
    open = false;
    std::string packet = buffer.substr(0, length);
    buffer.erase(0, length);
    if (!includeStrings) {
      if (PositionOf(start, packet) == 1) packet.erase(0, start.size());
      if (!stop.empty() && packet.size() >= stop.size() &&
          PositionOf(stop, packet) == packet.size() - stop.size() + 1) {
        packet.erase(packet.size() - stop.size());
      }
    }
    packets.push_back(packet);
  }
};

}  // namespace vardelio::test
