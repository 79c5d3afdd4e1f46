#pragma once
// Where the bench's threads run: as the scheduler places them, or the device's writer on a
// core of its own and every thread of the receiver on another.

#include <dirent.h>
#include <sched.h>

#include <cstdlib>
#include <vector>

namespace vardelio::bench {

enum class TLayout { free, pinned };

// The cores the process was given, in order, as they were at the first call: make it before
// anything is pinned.
inline const std::vector<int>& AllowedCores() {
  static const std::vector<int> cores = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> found;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return found;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &set)) found.push_back(cpu);
    }
    return found;
  }();
  return cores;
}

inline bool Pinnable() {
  return AllowedCores().size() >= 2;
}

// The writer's core and the receiver's.
inline int DeviceCore() {
  return AllowedCores()[0];
}
inline int ReceiverCore() {
  return AllowedCores()[1];
}

// `tid` 0: the calling thread.
inline bool PinThread(int tid, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(tid, sizeof set, &set) == 0;
}

inline void ReleaseThread(int tid, const cpu_set_t& all) {
  sched_setaffinity(tid, sizeof all, &all);
}

// While it lives, with `pinned`, every thread of the process runs on the receiver's core;
// threads started meanwhile inherit that, and a writer moves itself to the device's core.
class TPinned {
 public:
  explicit TPinned(TLayout layout) : pinned_(layout == TLayout::pinned && Pinnable()) {
    if (!pinned_) return;
    CPU_ZERO(&all_);
    for (int cpu : AllowedCores())
      CPU_SET(cpu, &all_);
    ForEachThread([this](int tid) { held_ = PinThread(tid, ReceiverCore()) && held_; });
  }
  ~TPinned() {
    if (pinned_) ForEachThread([this](int tid) { ReleaseThread(tid, all_); });
  }
  // Whether every thread went where it was sent; a run that was not pinned counts for nothing.
  bool Held() const { return pinned_ && held_; }
  TPinned(const TPinned&) = delete;
  TPinned& operator=(const TPinned&) = delete;

 private:
  template <typename F>
  static void ForEachThread(F&& call) {
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') call(std::atoi(entry->d_name));
    }
    closedir(dir);
  }

  bool pinned_;
  bool held_ = true;
  cpu_set_t all_;
};

}  // namespace vardelio::bench
