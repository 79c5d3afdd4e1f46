// The line trace's file: its lines, its bursts, what it drops and tells, and a file that takes
// nothing.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "TraceLines.h"
#include "app/LineTrace.h"
#include "portconfig/UserFile.h"

using namespace vardelio;
using namespace vardelio::test;

namespace {

TEST(TraceFormat, BytesShowAsHexAndPrintableText) {
  const struct {
    std::string bytes;
    const char* line;
  } cases[] = {
      {"SOKZ", "53 4F 4B 5A  |SOKZ|"},
      {"", "  ||"},
      {std::string("a b~\x7F\x1F", 6), "61 20 62 7E 7F 1F  |a b~..|"},
      {std::string("\r\n\0\xFF\xD1|", 6), "0D 0A 00 FF D1 7C  |.....||"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TraceBytes(c.bytes), c.line) << c.line;
}

TEST(TraceFormat, TimestampsAreLocalTimeToTheMillisecond) {
  const std::time_t seconds = 1796709000;  // a moment in December 2026
  std::tm local{};
  localtime_r(&seconds, &local);
  char expected[32];
  std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &local);
  const struct {
    int millis;
    const char* suffix;
  } cases[] = {{0, ".000"}, {5, ".005"}, {70, ".070"}, {123, ".123"}, {999, ".999"}};
  for (const auto& c : cases) {
    const auto at = TTraceClock::from_time_t(seconds) + std::chrono::milliseconds(c.millis);
    EXPECT_EQ(TraceTimestamp(at), std::string(expected) + c.suffix);
  }
}

// The whole file is UTF-8, whatever a note was given in: the port's messages are 8-bit
// Windows-1252 (Spanish ones among them), the window's texts UTF-8.
TEST(TraceFormat, NotesAreOneLineOfUtf8) {
  const struct {
    std::string text;
    const char* line;
  } cases[] = {
      {"Programación Exitosa", "Programación Exitosa"},
      {"Fall\xF3 la escritura (c\xF3"
       "digo: 5)",
       "Falló la escritura (código: 5)"},
      {"\x80 10", "€ 10"},
      {"\xC0\xAF", "À¯"},              // an overlong form is not UTF-8
      {"\xED\xA0\x80", "í\xC2\xA0€"},  // nor is a surrogate
      {"a\nb", "a / b"},
      {"a\r\nb\rc", "a / b / c"},
      {"tab\there", "tab here"},
      {std::string("nul\0bell\x07", 9), "nul?bell?"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TraceNoteText(c.text), c.line) << c.line;
}

class LineTrace : public ::testing::Test {
 protected:
  std::string Path(const char* name = "line.log") { return dir.filePath(name).toStdString(); }
  QTemporaryDir dir;
};

TEST_F(LineTrace, EachEntryIsOneLineAppendedInOrder) {
  std::ofstream(Path()) << "an earlier run\n";
  chmod(Path().c_str(), 0600);  // nobody else's to read
  {
    TLineTrace trace(Path(), {});
    trace.Note("OPEN", "ttyS0 9600 baud");
    trace.Sent("P1234TTZ", 8);
    trace.Received("SOK", 3);
    trace.Received("Z", 1);
    trace.Note("CLOSE", "ttyS0");
  }  // written out before the trace goes
  const std::vector<std::string> lines = ReadLines(Path());
  const std::vector<std::string> expected = {
      "OPEN ttyS0 9600 baud",
      "TX 50 31 32 33 34 54 54 5A  |P1234TTZ|",
      "RX 53 4F 4B 5A  |SOKZ|",  // one burst
      "CLOSE ttyS0",
  };
  ASSERT_EQ(lines.size(), expected.size() + 1);
  EXPECT_EQ(lines[0], "an earlier run");
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(AfterStamp(lines[i + 1]), expected[i]);
  { TLineTrace made(Path("made.log"), {}); }
  struct stat made {};
  ASSERT_EQ(stat(Path("made.log").c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0600u);  // a new one is its owner's alone: it holds phone numbers
}

TEST_F(LineTrace, AFileThatCannotBeOpenedIsRefusedWithTheSystemsReason) {
  QDir(dir.path()).mkdir(QStringLiteral("folder"));
  constexpr int kRefused = -1;  // by the rules, with no system error behind it
  const struct {
    std::string path;
    int error;
  } cases[] = {{Path("missing/line.log"), ENOENT},
               {Path("folder"), kRefused},
               // Devices are refused before they are opened, as opening some acts on them.
               {"/dev/null", kRefused},
               {"/dev/ptmx", kRefused}};
  for (const auto& c : cases) {
    try {
      TLineTrace trace(c.path, {});
      ADD_FAILURE() << c.path;
    } catch (const EFileRefused& refused) {
      EXPECT_EQ(c.error, kRefused) << c.path;
      EXPECT_EQ(refused.Why(), EFileRefused::kNotRegular) << c.path;
    } catch (const EProfileError& error) {
      EXPECT_EQ(error.Code(), c.error) << c.path;
    }
  }
}

// Bytes that come close together one way are one line, as a technician reads a reply; a
// pause, the other way, a note or the longest line starts another.
TEST_F(LineTrace, BytesCloseTogetherShareALine) {
  using std::chrono::milliseconds;
  const milliseconds gap = TLineTrace::kBurstGap;
  struct TChunk {
    char way;  // 'R' received, 'S' sent, 'N' a note
    std::string bytes;
    milliseconds after;  // since the chunk before
  };
  const std::string ten(10, '1');
  std::vector<TChunk> steady;  // a reply longer than one line, a byte's time apart
  for (int i = 0; i < 30; ++i)
    steady.push_back({'R', ten, milliseconds(1)});
  const struct {
    const char* name;
    std::vector<TChunk> chunks;
    std::vector<std::string> lines;
  } cases[] = {
      {"one reply, a byte at a time",
       {{'R', "S", {}},
        {'R', "O", milliseconds(1)},
        {'R', "K", milliseconds(1)},
        {'R', "Z", milliseconds(2)}},
       {"RX 53 4F 4B 5A  |SOKZ|"}},
      {"a pause just short of the gap",
       {{'R', "SO", {}}, {'R', "KZ", gap - milliseconds(1)}},
       {"RX 53 4F 4B 5A  |SOKZ|"}},
      {"a pause of the gap",
       {{'R', "SO", {}}, {'R', "KZ", gap}},
       {"RX 53 4F  |SO|", "RX 4B 5A  |KZ|"}},
      {"the other way between",
       {{'R', "SO", {}}, {'S', "L", milliseconds(1)}, {'R', "KZ", milliseconds(1)}},
       {"RX 53 4F  |SO|", "TX 4C  |L|", "RX 4B 5A  |KZ|"}},
      {"sent bytes too",
       {{'S', "P1", {}}, {'S', "2Z", milliseconds(1)}},
       {"TX 50 31 32 5A  |P12Z|"}},
      {"a note between",
       {{'R', "SO", {}}, {'N', "a note", milliseconds(1)}, {'R', "KZ", milliseconds(1)}},
       {"RX 53 4F  |SO|", "BOX a note", "RX 4B 5A  |KZ|"}},
      {"longer than a line",
       steady,
       {"RX " + TraceBytes(std::string(250, '1')), "RX " + TraceBytes(std::string(50, '1'))}},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::to_string(++round).c_str());
    {
      TLineTrace trace(path, {});
      // Far ahead of the clock, so the writer never ends a burst by the time it takes here.
      auto at = TTraceClock::now() + std::chrono::hours(1);
      for (const TChunk& chunk : c.chunks) {
        at += chunk.after;
        if (chunk.way == 'N') {
          trace.Note("BOX", chunk.bytes);
        } else if (chunk.way == 'R') {
          trace.Received(chunk.bytes.data(), chunk.bytes.size(), at);
        } else {
          trace.Sent(chunk.bytes.data(), chunk.bytes.size(), at);
        }
      }
    }
    EXPECT_EQ(Entries(path), c.lines);
  }
}

// The writer is held on a pipe nobody reads yet, so the queue fills however fast it is.
TEST_F(LineTrace, AFloodBeyondTheQueueIsDroppedAndTheNextLineSaysHowMuch) {
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
  const int pipeSize = fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
  ASSERT_GT(pipeSize, 0);
  constexpr std::size_t kQueue = 32 * 1024, kChunk = 1000, kChunks = 400;
  std::string copied;
  std::thread reader;
  {
    TLineTrace trace("/proc/self/fd/" + std::to_string(pipeEnds[1]), {}, kQueue);
    const std::string chunk(kChunk, 'x');
    for (std::size_t i = 0; i < kChunks; ++i)
      trace.Sent(chunk.data(), chunk.size());
    reader = std::thread([&] {
      char buffer[4096];
      for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        copied.append(buffer, n);
    });
    trace.Flush();
    trace.Note("CLOSE", "ttyS0");
  }
  close(pipeEnds[1]);
  reader.join();
  close(pipeEnds[0]);

  // The writer may free room now and then, so there may be more than one gap; each is told
  // by the line that follows it, and every byte is either traced or counted.
  const std::regex lostLine(R"(LOST (\d+) bytes in (\d+) lines not traced: the trace fell behind)");
  std::size_t traced = 0, lost = 0, lostLines = 0, gaps = 0, beforeFirstGap = 0;
  std::vector<std::string> entries;
  std::istringstream text(copied);
  for (std::string line; std::getline(text, line);)
    entries.push_back(AfterStamp(line));
  ASSERT_FALSE(entries.empty());
  for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
    std::smatch match;
    if (std::regex_match(entries[i], match, lostLine)) {
      lost += std::stoul(match[1]);
      lostLines += std::stoul(match[2]);
      ++gaps;
      EXPECT_FALSE(std::regex_match(entries[i + 1], lostLine));
    } else {
      ASSERT_EQ(entries[i], "TX " + TraceBytes(std::string(kChunk, 'x')));
      traced += kChunk;
      if (gaps == 0) beforeFirstGap += kChunk;
    }
  }
  EXPECT_EQ(entries.back(), "CLOSE ttyS0");
  EXPECT_GE(gaps, 1u);
  EXPECT_EQ(traced + lost, kChunks * kChunk);
  EXPECT_EQ(lostLines * kChunk, lost);
  // Before the first gap: never more held than the queue, plus what the pipe took.
  EXPECT_GT(beforeFirstGap, 0u);
  EXPECT_LE(beforeFirstGap, kQueue + std::size_t(pipeSize));
}

TEST_F(LineTrace, AFileThatTakesNoMoreStopsTheTraceAndSaysSoOnce) {
  std::ofstream(Path()) << std::string(2000, '.');
  chmod(Path().c_str(), 0600);
  std::atomic<int> reports{0}, reason{0};
  {
    const TFileSizeLimit limit(2100);
    TLineTrace trace(Path(), [&] { ++reports; });
    for (int i = 0; i < 50 && !trace.Failed(); ++i) {
      trace.Received("SOKZ", 4);
      trace.Flush();
    }
    EXPECT_TRUE(trace.Failed());
    reason = trace.FailureCode();
    trace.Sent("P1234TTZ", 8);  // not queued any more
    trace.Flush();
  }
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(reason, EFBIG);
  EXPECT_LE(std::ifstream(Path(), std::ios::ate).tellg(), 2100);
}

// A reader that goes away is a file that takes no more: the trace stops and says so, and the
// program is not ended by the signal such a write raises.
TEST_F(LineTrace, AReaderThatGoesAwayStopsTheTraceAsAFullFileDoes) {
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
  close(pipeEnds[0]);
  std::atomic<int> reports{0};
  {
    TLineTrace trace("/proc/self/fd/" + std::to_string(pipeEnds[1]), [&] { ++reports; });
    trace.Received("SOKZ", 4);
    trace.Flush();
    EXPECT_TRUE(trace.Failed());
    EXPECT_EQ(trace.FailureCode(), EPIPE);
  }
  close(pipeEnds[1]);
  EXPECT_EQ(reports, 1);
}

// What was dropped just before the trace ends is told too, not only when another line follows.
TEST_F(LineTrace, ALossJustBeforeTheEndIsStillTold) {
  {
    TLineTrace trace(Path(), {}, 256);
    trace.Note("OPEN", "ttyS0 9600 baud");
    trace.Flush();
    const std::string block(1000, 'x');  // more than the whole queue takes
    trace.Received(block.data(), block.size());
  }
  const std::vector<std::string> lines = ReadLines(Path());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(AfterStamp(lines[0]), "OPEN ttyS0 9600 baud");
  EXPECT_EQ(AfterStamp(lines[1]), "LOST 1000 bytes in 1 lines not traced: the trace fell behind");
}

// The count tells the line's bytes; a dropped note is a line lost, never bytes.
TEST_F(LineTrace, ALossCountsTheLinesBytesNeverANotesText) {
  const std::string block(1000, 'x'), note(700, 'n'), half(500, 'y');
  const struct {
    const char* name;
    std::vector<std::pair<char, std::string>> dropped;  // 'R', 'S' or 'N'
    const char* lost;
  } cases[] = {
      {"a block received", {{'R', block}}, "1000 bytes in 1 lines"},
      {"a note", {{'N', note}}, "0 bytes in 1 lines"},
      {"both ways and notes",
       {{'R', block}, {'N', note}, {'S', half}, {'N', note}},
       "1500 bytes in 4 lines"},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::to_string(++round).c_str());
    {
      TLineTrace trace(path, {}, 512);  // none of them fits
      for (const auto& [way, text] : c.dropped) {
        if (way == 'N') {
          trace.Note("BOX", text);
        } else if (way == 'R') {
          trace.Received(text.data(), text.size());
        } else {
          trace.Sent(text.data(), text.size());
        }
      }
      trace.Note("CLOSE", "ttyS0");  // fits: tells the loss before it
    }
    EXPECT_EQ(Entries(path), (std::vector<std::string>{std::string("LOST ") + c.lost +
                                                           " not traced: the trace fell behind",
                                                       "CLOSE ttyS0"}));
  }
}

// The trace is started and stopped on the window's thread: a file that never takes anything
// (a FIFO nobody reads, a pipe whose reader stopped reading) must not hold that thread.
TEST_F(LineTrace, AFileThatTakesNothingHoldsNeitherTheStartNorTheEnd) {
  const std::string fifo = Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = -1;
  std::unique_ptr<TLineTrace> opened;
  EXPECT_TRUE(DoneWithoutRelease(
      [&] {
        try {
          opened = std::make_unique<TLineTrace>(fifo, TLineTrace::TFailure{});
        } catch (const EProfileError&) {
          // refusing it is fine too
        }
      },
      [&] { reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }))
      << "opening a FIFO nobody reads held the thread";
  opened.reset();
  if (reader >= 0) close(reader);

  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
  ASSERT_GT(fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096), 0);
  auto trace = std::make_unique<TLineTrace>("/proc/self/fd/" + std::to_string(pipeEnds[1]),
                                            TLineTrace::TFailure{});
  const std::string block(500, 'x');
  for (int i = 0; i < 40; ++i)
    trace->Sent(block.data(), block.size());
  bool drained = false;
  EXPECT_TRUE(DoneWithoutRelease([&] { trace.reset(); },
                                 [&] {
                                   drained = true;
                                   std::thread([end = pipeEnds[0]] {
                                     char buffer[4096];
                                     while (read(end, buffer, sizeof buffer) > 0) {
                                     }
                                   }).detach();
                                 }))
      << "stopping a trace whose pipe is full held the thread";
  close(pipeEnds[1]);
  if (!drained) close(pipeEnds[0]);
}

// A writer held in a write for as long as the test wants: a frozen disk or a hung mount, where
// write(2) does not return and no poll can tell.
struct TFrozenDisk {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool thawed = false;
  int thawedError = 0;  // what the write does once it returns: 0 writes, else fails so
  std::atomic<int> failures{0};
};

// Stopping gives up a second into the end whatever the file is on; the writer is left to
// finish on its own with what it owns, and says what it could not write if the file takes it.
TEST_F(LineTrace, AFrozenDiskHoldsNeitherTheEndNorAnythingAfterIt) {
  const struct {
    const char* name;
    int thawedError;
    std::vector<std::string> lines;
  } cases[] = {
      {"the disk comes back",
       0,
       {"OPEN ttyS0 9600 baud",
        "LOST 12 bytes in 3 lines not traced: the file took nothing for a second when the "
        "trace ended"}},
      {"the disk fails", EIO, {}},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(std::to_string(++round).c_str());
    // Shared with the writer, which may outlive this scope.
    auto disk = std::make_shared<TFrozenDisk>();
    disk->thawedError = c.thawedError;
    TLineTrace::TWrite write = [disk](int fd, const void* data, std::size_t count) -> ssize_t {
      std::unique_lock lock(disk->mutex);
      disk->entered = true;
      disk->changed.notify_all();
      disk->changed.wait(lock, [&] { return disk->thawed; });
      if (disk->thawedError != 0) {
        errno = disk->thawedError;
        return -1;
      }
      return ::write(fd, data, count);
    };
    auto trace = std::make_unique<TLineTrace>(
        path, [disk] { ++disk->failures; }, TLineTrace::kDefaultQueueBytes, std::move(write));
    trace->Note("OPEN", "ttyS0 9600 baud");
    {
      std::unique_lock lock(disk->mutex);
      ASSERT_TRUE(
          disk->changed.wait_for(lock, std::chrono::seconds(5), [&] { return disk->entered; }));
    }
    trace->Sent("P1234TTZ", 8);
    trace->Received("SOKZ", 4);
    trace->Note("CLOSE", "ttyS0");
    const auto thaw = [frozen = disk.get()] {
      const std::lock_guard lock(frozen->mutex);
      frozen->thawed = true;
      frozen->changed.notify_all();
    };
    EXPECT_TRUE(ReturnsWithoutRelease([&] { trace.reset(); }, thaw))
        << "stopping a trace whose disk takes nothing held the window";
    thaw();
    // The writer's end: it lets go of what it owned, the disk's seam among it.
    EXPECT_TRUE(WaitUntil([&] { return disk.use_count() == 1; }));
    EXPECT_EQ(Entries(path), c.lines);
    EXPECT_EQ(disk->failures, 0) << "a trace already gone was told of its failure";
  }
}

}  // namespace
