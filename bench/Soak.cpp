// A long run: 1 GiB of numbered packets through a pseudo-terminal into the port with its
// framer attached, in each delivery mode. Reports packets lost or out of order (must be 0),
// the process's resident memory before and after (must stay flat), and CPU per MB.
//
//   soak [MiB per mode, default 1024]

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "BenchPty.h"
#include "serial/ComDataPacket.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"

using namespace vardelio;
using namespace vardelio::bench;

namespace {

constexpr int kWrap = 1000000;  // six digits of sequence

double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct TResult {
  long long packets = 0, wrong = 0;
  double rssBefore = 0, rssAfter = 0, cpuPerMiB = 0, seconds = 0;
};

TResult Soak(TSyncMethod mode, long long mebibytes) {
  const long long total = mebibytes * 1024 * 1024 / 8;  // packets of 8 bytes
  TBenchPty pty;
  TComPort port;
  port.SetPort(pty.Path());
  port.SetSyncMethod(mode);
  port.Buffer().SetInputSize(4096);
  TComDataPacket framer;
  framer.SetComPort(&port);
  framer.SetStartString("S");
  framer.SetStopString("Z");
  std::atomic<long long> received = 0, wrong = 0;
  framer.OnPacket = TComStrEvent([&](QObject*, const std::string& payload) {
    const long long n = received.fetch_add(1);
    if (payload.size() != 6 || std::atoi(payload.c_str()) != int(n % kWrap)) ++wrong;
  });
  port.OpenPort();
  TResult result;
  result.rssBefore = ResidentMiB();
  const double cpuBefore = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::thread writer([&] {
    std::string block;
    for (long long sent = 0; sent < total;) {
      block.clear();
      for (int i = 0; i < 8192 && sent < total; ++i, ++sent)
        block += Packet(int(sent % kWrap));
      pty.Send(block.data(), block.size());
    }
  });
  long long seen = 0;
  auto lastProgress = std::chrono::steady_clock::now();
  while (received < total) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (mode == smNone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto now = std::chrono::steady_clock::now();
    if (received != seen) {
      seen = received;
      lastProgress = now;
    } else if (now - lastProgress > std::chrono::seconds(5)) {
      break;  // stalled: what is missing counts as lost
    }
  }
  writer.join();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpuPerMiB = (CpuSeconds() - cpuBefore) / double(mebibytes);
  result.rssAfter = ResidentMiB();
  result.packets = received;
  result.wrong = wrong + (total - received);
  port.ClosePort();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  InitPortErrorMessages({});
  const long long mebibytes = argc > 1 ? std::atoll(argv[1]) : 1024;
  const char* const names[] = {"thread-sync", "window-sync", "none"};
  int failures = 0;
  for (const TSyncMethod mode : {smThreadSync, smWindowSync, smNone}) {
    const TResult r = Soak(mode, mebibytes);
    std::printf(
        "%-12s %lld MiB in %.1f s: %lld packets, %lld lost or out of order, RSS %.1f -> "
        "%.1f MiB, CPU %.3f s per MiB\n",
        names[mode], mebibytes, r.seconds, r.packets, r.wrong, r.rssBefore, r.rssAfter,
        r.cpuPerMiB);
    failures += r.wrong != 0 || r.rssAfter - r.rssBefore > 5.0;
  }
  return failures == 0 ? 0 : 1;
}
