#pragma once
// Reading a line trace back in tests, and running a step that a file may hold.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Waiting.h"

namespace vardelio::test {

inline const std::string kStamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )";

inline std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);)
    lines.push_back(line);
  return lines;
}

// What follows the timestamp, once the line is known to start with one.
inline std::string AfterStamp(const std::string& line) {
  EXPECT_TRUE(std::regex_search(line, std::regex("^" + kStamp))) << line;
  return line.size() > 24 ? line.substr(24) : std::string();
}

// Every line of the file without its timestamp.
inline std::vector<std::string> Entries(const std::string& path) {
  std::vector<std::string> entries;
  for (const std::string& line : ReadLines(path))
    entries.push_back(AfterStamp(line));
  return entries;
}

// The printable side of every RX line, in the file's order.
inline std::string ReceivedText(const std::vector<std::string>& lines) {
  std::string received;
  for (const std::string& line : lines) {
    if (line.size() <= 24 || line.compare(24, 3, "RX ") != 0) continue;
    const auto bar = line.find("  |");
    if (bar != line.npos) received += line.substr(bar + 3, line.size() - bar - 4);
  }
  return received;
}

// A file size limit for this process, with the signal it would raise ignored, as the
// program ignores it; the old limit comes back at the end of the scope.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit old_{};
  void (*previous_)(int) = nullptr;
};

// Runs `step` on this thread; if it is not over within the limit, `release` (from another
// thread) lets it finish, and the result is false. The limit is far beyond anything the step
// needs when it does not wait on the file.
inline bool ReturnsWithoutRelease(const std::function<void()>& step,
                                  const std::function<void()>& release) {
  std::atomic<bool> done{false}, released{false};
  std::thread watchdog([&] {
    if (!WaitUntil([&] { return done.load(); }, 5000)) {
      released = true;
      release();
    }
  });
  step();
  done = true;
  watchdog.join();
  return !released;
}

// The same with the step on a thread of its own, for a step the window's thread need not run.
inline bool DoneWithoutRelease(const std::function<void()>& step,
                               const std::function<void()>& release) {
  std::atomic<bool> done{false};
  std::thread runner([&] {
    step();
    done = true;
  });
  const bool inTime = WaitUntil([&] { return done.load(); }, 5000);
  if (!inTime) release();
  runner.join();
  return inTime;
}

}  // namespace vardelio::test
