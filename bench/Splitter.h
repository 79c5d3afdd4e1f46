#pragma once
// The peers' framing: cuts "S...Z" packets out of a byte stream as well as it can be done.

#include <functional>
#include <string>

namespace vardelio::bench {

// Cuts at an offset into its buffer and compacts once per chunk, so a chunk of n packets
// moves its bytes once, not n times.
class TSplitter {
 public:
  using TSink = std::function<void(const std::string& payload)>;
  explicit TSplitter(TSink sink) : sink_(std::move(sink)) {}

  void Feed(const char* data, std::size_t size) {
    buffer_.append(data, size);
    std::size_t at = 0;
    for (;;) {
      const std::size_t start = buffer_.find('S', at);
      if (start == std::string::npos) {
        at = buffer_.size();  // nothing here can begin a packet
        break;
      }
      const std::size_t stop = buffer_.find('Z', start + 1);
      if (stop == std::string::npos) {
        at = start;  // an open packet waits for the next chunk
        break;
      }
      sink_(buffer_.substr(start + 1, stop - start - 1));
      at = stop + 1;
    }
    buffer_.erase(0, at);
  }

 private:
  TSink sink_;
  std::string buffer_;
};

}  // namespace vardelio::bench
