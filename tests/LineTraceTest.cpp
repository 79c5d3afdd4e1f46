#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <system_error>
#include <thread>

#include "PseudoTerminal.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "SimulatedUnit.h"
#include "Waiting.h"
#include "app/LineTrace.h"
#include "app/MainForm.h"
#include "app/PanelFrames.h"
#include "app/Workflow.h"
#include "serial/ComPort.h"

using namespace vardelio;
using vardelio::test::ServeUntil;
using vardelio::test::TRecordingPresenter;

namespace {

const std::string kStamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )";

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);)
    lines.push_back(line);
  return lines;
}

// What follows the timestamp, once the line is known to start with one.
std::string AfterStamp(const std::string& line) {
  EXPECT_TRUE(std::regex_search(line, std::regex("^" + kStamp))) << line;
  return line.size() > 24 ? line.substr(24) : std::string();
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

class LineTrace : public ::testing::Test {
 protected:
  std::string Path(const char* name = "line.log") { return dir.filePath(name).toStdString(); }
  QTemporaryDir dir;
};

TEST_F(LineTrace, EachEntryIsOneLineAppendedInOrder) {
  std::ofstream(Path()) << "an earlier run\n";
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
      "OPEN ttyS0 9600 baud", "TX 50 31 32 33 34 54 54 5A  |P1234TTZ|",
      "RX 53 4F 4B  |SOK|",   "RX 5A  |Z|",
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
  const struct {
    std::string path;
    std::errc error;
  } cases[] = {{Path("missing/line.log"), std::errc::no_such_file_or_directory},
               {Path("folder"), std::errc::is_a_directory},
               // Devices are refused before they are opened, as opening some acts on them.
               {"/dev/null", std::errc::not_supported},
               {"/dev/ptmx", std::errc::not_supported}};
  for (const auto& c : cases) {
    try {
      TLineTrace trace(c.path, {});
      ADD_FAILURE() << c.path;
    } catch (const std::system_error& error) {
      EXPECT_EQ(error.code(), std::make_error_code(c.error)) << c.path;
    }
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

// Runs `step` on a thread of its own; if it is not over within the limit, `release` lets it
// finish and the result is false. The limit is far beyond anything the step needs when it
// does not wait on the file.
bool DoneWithoutRelease(const std::function<void()>& step, const std::function<void()>& release) {
  std::atomic<bool> done{false};
  std::thread runner([&] {
    step();
    done = true;
  });
  const bool inTime = vardelio::test::WaitUntil([&] { return done.load(); }, 5000);
  if (!inTime) release();
  runner.join();
  return inTime;
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
        } catch (const std::system_error&) {
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

// The main window against the simulated unit, with its line traced.
class TracedWindow : public ::testing::Test {
 protected:
  void Start(TUnitBehaviour behaviour = {}, const std::string& traceFile = "") {
    std::string device;
    const int master = OpenPseudoTerminal(device);
    ASSERT_GE(master, 0);
    std::ofstream(test::SettingsPath()) << "[ComPort1]\nPort=" << device << "\n";
    behaviour.byteMicros = 0;
    unit = std::make_unique<TSimulatedUnit>(master, behaviour);
    unit->Start();
    TStartOptions start;
    start.traceFile = traceFile;
    form = std::make_unique<TForm1>(nullptr, nullptr, start);
  }
  template <typename T = QWidget>
  T* Find(const char* name) {
    return form->findChild<T*>(QLatin1String(name));
  }
  QAction* TraceItem() { return Find<QAction>("Registrodelalnea1"); }
  // Sends "1234" and waits for the outcome's box, which comes once the unit's whole answer
  // is in, however long a loaded machine makes the unit take.
  void Send(bool answered = true) {
    const auto before = boxes.messages.size() + boxes.errors.size();
    form->Timer1()->setInterval(60000);
    Find<QLineEdit>("Edit1")->setText(QStringLiteral("1234"));
    QTest::mouseClick(Find<QPushButton>("BitBtn1_Enviar"), Qt::LeftButton);
    auto* memo = Find<QPlainTextEdit>("Memo1");
    if (answered) {
      EXPECT_TRUE(ServeUntil([&] { return !memo->toPlainText().isEmpty(); }));
    }
    form->Timer1()->setInterval(0);  // restarts the running timer
    EXPECT_TRUE(ServeUntil([&] { return boxes.messages.size() + boxes.errors.size() > before; }));
  }
  std::string Path() { return dir.filePath(QStringLiteral("line.log")).toStdString(); }
  std::string Device() { return form->ComPort1()->Port(); }
  static std::string Frame() { return BuildProgrammingFrame({"1234", "", "", {}, {}}); }

  QTemporaryDir dir;
  TRecordingPresenter boxes;
  std::unique_ptr<TSimulatedUnit> unit;
  std::unique_ptr<TForm1> form;
};

TEST_F(TracedWindow, OneSendHoldsTheOpeningTheFrameAndTheAcknowledgement) {
  Start({}, Path());
  EXPECT_TRUE(TraceItem()->isChecked());
  Send();
  EXPECT_EQ(boxes.messages, QStringList{messages::kProgrammed});
  TraceItem()->trigger();  // unchecked: the trace is written out and ends
  EXPECT_FALSE(form->LineTraceActive());
  const std::vector<std::string> lines = ReadLines(Path());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(AfterStamp(lines[0]), "OPEN " + Device() + " 9600 baud");
  EXPECT_EQ(AfterStamp(lines[1]), "TX " + TraceBytes(Frame()));
  std::string received;  // the unit's answer may come in more than one piece
  for (std::size_t i = 2; i < lines.size(); ++i) {
    const std::string entry = AfterStamp(lines[i]);
    ASSERT_EQ(entry.rfind("RX ", 0), 0u) << entry;
    const auto bar = entry.find("  |");
    received += entry.substr(bar + 3, entry.size() - bar - 4);
  }
  EXPECT_EQ(received, "SOKZ");
}

// Started from the menu on an open port (the file dialog's part is in the window's tests).
TEST_F(TracedWindow, UncheckingTheMenuItemStopsTheTrace) {
  Start();
  ASSERT_TRUE(form->StartLineTrace(Path()));
  EXPECT_TRUE(TraceItem()->isChecked());
  Send();
  TraceItem()->trigger();
  EXPECT_FALSE(TraceItem()->isChecked());
  EXPECT_FALSE(form->LineTraceActive());
  Send();  // after the trace ends: not in the file
  const std::vector<std::string> lines = ReadLines(Path());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(AfterStamp(lines[0]), "OPEN " + Device() + " 9600 baud (already open)");
  EXPECT_EQ(AfterStamp(lines[1]), "TX " + TraceBytes(Frame()));
  for (std::size_t i = 2; i < lines.size(); ++i)
    EXPECT_EQ(AfterStamp(lines[i]).rfind("RX ", 0), 0u);
  EXPECT_EQ(boxes.messages, QStringList(2, messages::kProgrammed));
  EXPECT_TRUE(boxes.errors.isEmpty());
}

TEST_F(TracedWindow, AFullDiskStopsTheTraceWithOneBoxAndProgrammingGoesOn) {
  std::ofstream(Path()) << std::string(3000, '.');
  const TFileSizeLimit limit(3000);  // the settings file stays well below it
  Start({}, Path());
  ASSERT_TRUE(ServeUntil([&] { return !form->LineTraceActive(); }));
  EXPECT_FALSE(TraceItem()->isChecked());
  ASSERT_EQ(boxes.errors.size(), 1);
  EXPECT_EQ(boxes.errors[0],
            QStringLiteral("El registro de la línea se detuvo: no se pudo escribir en \"%1\" "
                           "(File too large). La programación continúa.")
                .arg(QString::fromStdString(Path())));
  Send();
  Send();
  EXPECT_EQ(boxes.messages, QStringList(2, messages::kProgrammed));
  EXPECT_EQ(unit->Stored(), "1234TT00");
  EXPECT_EQ(boxes.errors.size(), 1);
}

// The full file's report arrives after a second trace has replaced the first: it is stale.
TEST_F(TracedWindow, AReportFromATraceAlreadyReplacedChangesNothing) {
  const std::string full = dir.filePath(QStringLiteral("full.log")).toStdString();
  std::ofstream(full) << std::string(3000, '.');
  const TFileSizeLimit limit(3000);
  Start();
  ASSERT_TRUE(form->StartLineTrace(full));
  ASSERT_TRUE(form->StartLineTrace(Path()));  // the first is written out, and fails, first
  QCoreApplication::sendPostedEvents(form.get());
  EXPECT_TRUE(form->LineTraceActive());
  EXPECT_TRUE(TraceItem()->isChecked());
  EXPECT_TRUE(boxes.errors.isEmpty());
}

TEST_F(TracedWindow, PortErrorsAreRecorded) {
  Start({.hangUpAfter = 1}, Path());
  Send();
  ASSERT_TRUE(ServeUntil([&] { return form->ComPort1()->EventLoopEnded(); }));
  Send(false);
  EXPECT_EQ(boxes.errors, QStringList{"WriteFile function failed (win error code: 5)"});
  form->StopLineTrace();
  std::vector<std::string> notes;
  for (const std::string& line : ReadLines(Path())) {
    const std::string entry = AfterStamp(line);
    if (entry.rfind("ERROR", 0) == 0) notes.push_back(entry);
  }
  EXPECT_EQ(notes, (std::vector<std::string>{
                       "ERROR line: I/O", "ERROR WriteFile function failed (win error code: 5)"}));
}

// The printable side of every RX line, in the file's order.
std::string ReceivedText(const std::vector<std::string>& lines) {
  std::string received;
  for (const std::string& line : lines) {
    if (line.size() <= 24 || line.compare(24, 3, "RX ") != 0) continue;
    const auto bar = line.find("  |");
    if (bar != line.npos) received += line.substr(bar + 3, line.size() - bar - 4);
  }
  return received;
}

// Bytes are traced as they come in, before the window acts on them: a box the packet raises
// (here the unit's time-over) holds the window for as long as the operator reads it, and the
// trace must not stamp the bytes with the time the box was closed, nor write later bytes first.
TEST_F(TracedWindow, BytesAreTracedBeforeTheWindowActsOnThem) {
  Start({.timeOver = true}, Path());
  struct TLooking : TRecordingPresenter {
    std::function<void()> onPlain;
    void ShowPlain(const QString& caption, const QString& text) override {
      TRecordingPresenter::ShowPlain(caption, text);
      if (onPlain) onPlain();
    }
  } looking;
  bool tracedBeforeTheBox = false;
  looking.onPlain = [&] {
    tracedBeforeTheBox = vardelio::test::WaitUntil(
        [&] { return ReceivedText(ReadLines(Path())).find("SFZ") != std::string::npos; }, 3000);
  };
  form->Timer1()->setInterval(60000);
  Find<QLineEdit>("Edit1")->setText(QStringLiteral("1234"));
  QTest::mouseClick(Find<QPushButton>("BitBtn1_Enviar"), Qt::LeftButton);
  ASSERT_TRUE(ServeUntil([&] { return looking.messages.contains(messages::kTimeOver); }));
  EXPECT_TRUE(tracedBeforeTheBox);
  form->StopLineTrace();
  EXPECT_NE(ReceivedText(ReadLines(Path())).find("SFZ"), std::string::npos);  // only after it
}

TEST_F(TracedWindow, ATraceFileThatCannotBeOpenedIsReportedAndTheWindowWorks) {
  const std::string path = dir.filePath(QStringLiteral("missing/line.log")).toStdString();
  Start({}, path);
  EXPECT_FALSE(TraceItem()->isChecked());
  EXPECT_EQ(boxes.errors, QStringList{QStringLiteral("No se puede abrir el registro de la línea "
                                                     "\"%1\": No such file or directory.")
                                          .arg(QString::fromStdString(path))});
  Send();
  EXPECT_EQ(boxes.messages, QStringList{messages::kProgrammed});
}

}  // namespace
