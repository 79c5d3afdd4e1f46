#pragma once
// Takes typed values off the front of a fuzzer's input; past its end, zeros.

#include <stdlib.h>
#include <cstddef>

#include <cstdint>
#include <string>

namespace vardelio::fuzz {

class TFuzzInput {
 public:
  TFuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Flag() { return Byte() & 1; }
  // Up to `most` bytes, as many as the next byte says.
  std::string Text(std::size_t most) {
    const std::size_t n = Byte() % (most + 1);
    std::string text;
    while (text.size() < n && at_ < size_)
      text += char(data_[at_++]);
    return text;
  }
  std::string Rest() {
    std::string rest(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
    at_ = size_;
    return rest;
  }
  bool Empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A folder of this run's own under /tmp, made on first use.
inline const std::string& TempFolder() {
  static const std::string folder = [] {
    char name[] = "/tmp/vardelio-fuzz-XXXXXX";
    return std::string(mkdtemp(name));
  }();
  return folder;
}

}  // namespace vardelio::fuzz
