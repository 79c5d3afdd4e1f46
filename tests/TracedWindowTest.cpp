// The main window against the simulated unit, with its line traced: what a technician reads
// back, the files the trace refuses, and a trace that takes nothing.

#include <gtest/gtest.h>

#include <fcntl.h>
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
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <thread>

#include "PseudoTerminal.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "SimulatedUnit.h"
#include "TraceLines.h"
#include "app/FileMenu.h"
#include "app/LineTrace.h"
#include "app/MainForm.h"
#include "programming/PanelFrames.h"
#include "app/Workflow.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"

using namespace vardelio;
using namespace vardelio::test;

namespace {

// The main window against the simulated unit, with its line traced.
class TracedWindow : public ::testing::Test {
 protected:
  // The unit answers at once, unless `paced`: a byte at a time, as at 9600 baud.
  void Start(TUnitBehaviour behaviour = {}, const std::string& traceFile = "", bool paced = false,
             const std::string& settings = "") {
    std::string device;
    const int master = OpenPseudoTerminal(device);
    ASSERT_GE(master, 0);
    std::ofstream(test::SettingsPath()) << "[ComPort1]\nPort=" << device << "\n" << settings;
    if (!paced) behaviour.byteMicros = 0;
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
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(AfterStamp(lines[0]), "OPEN " + Device() + " 9600 baud");
  EXPECT_EQ(AfterStamp(lines[1]), "ACTION Enviar Programación");
  EXPECT_EQ(AfterStamp(lines[2]), "TX " + TraceBytes(Frame()));
  EXPECT_EQ(ReceivedText(lines), "SOKZ");
  EXPECT_EQ(AfterStamp(lines.back()), "BOX Programación Exitosa");
}

// Read back as a technician reads it: each step of the operator's, what went each way, a
// line a burst, and what the window said; one file of UTF-8.
TEST_F(TracedWindow, ASendAndAReadBackAreAFewLinesWithTheOperatorsStepsAndBoxes) {
  Start({}, Path(), true);
  Send();
  const auto before = boxes.messages.size();
  form->Timer1()->setInterval(60000);
  QTest::mouseClick(Find<QPushButton>("BitBtn2_Recibir"), Qt::LeftButton);
  auto* memo = Find<QPlainTextEdit>("Memo1");
  ASSERT_TRUE(ServeUntil([&] { return memo->toPlainText().size() == int(unit->Stored().size()); }));
  form->Timer1()->setInterval(0);
  ASSERT_TRUE(ServeUntil([&] { return boxes.messages.size() > before; }));
  const QString saved = dir.filePath(QStringLiteral("cliente.vardelio"));
  ASSERT_TRUE(form->Files().Save(saved));
  ASSERT_TRUE(form->Files().Open(saved));
  ASSERT_TRUE(form->Files().Save(dir.filePath(QStringLiteral("no/such.vardelio"))) == false);
  form->StopLineTrace();

  std::vector<std::string> entries = Entries(Path());
  const std::string reply = "S" + unit->Stored() + "Z";
  std::vector<std::string> kept;  // the unit's bytes are checked whole, below
  int received = 0;
  for (const std::string& entry : entries) {
    if (entry.rfind("RX ", 0) == 0) {
      ++received;
    } else {
      kept.push_back(entry);
    }
  }
  const std::string file = saved.toStdString();
  EXPECT_EQ(kept, (std::vector<std::string>{
                      "OPEN " + Device() + " 9600 baud", "ACTION Enviar Programación",
                      "TX " + TraceBytes(Frame()), "BOX Programación Exitosa",
                      "ACTION Recibir Programación", "TX 4C  |L|", "BOX Programación Recibida",
                      "ACTION Guardar programación \"" + file + "\"",
                      "ACTION Abrir programación \"" + file + "\"",
                      "ACTION Guardar programación \"" +
                          dir.filePath(QStringLiteral("no/such.vardelio")).toStdString() + "\"",
                      kept.back()}));
  // A box of more than one line is one line in the trace.
  EXPECT_TRUE(kept.back().starts_with(
      "BOX error: No se puede guardar el archivo \"such.vardelio\". /  / Cannot write "))
      << kept.back();
  EXPECT_EQ(ReceivedText(ReadLines(Path())), "SOKZ" + reply);
  // Two replies, a byte a millisecond: a line each, give or take a pause on a loaded machine,
  // never a line a byte.
  EXPECT_GE(received, 2);
  EXPECT_LE(received, 6);
  const std::string text = ReadAll(Path());
  EXPECT_TRUE(QString::fromUtf8(text.data(), qsizetype(text.size())).toUtf8().toStdString() ==
              text);
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
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(AfterStamp(lines[0]), "OPEN " + Device() + " 9600 baud (already open)");
  EXPECT_EQ(AfterStamp(lines[1]), "ACTION Enviar Programación");
  EXPECT_EQ(AfterStamp(lines[2]), "TX " + TraceBytes(Frame()));
  for (std::size_t i = 3; i + 1 < lines.size(); ++i)
    EXPECT_EQ(AfterStamp(lines[i]).rfind("RX ", 0), 0u);
  EXPECT_EQ(AfterStamp(lines.back()), "BOX Programación Exitosa");
  EXPECT_EQ(boxes.messages, QStringList(2, messages::kProgrammed));
  EXPECT_TRUE(boxes.errors.isEmpty());
}

TEST_F(TracedWindow, AFullDiskStopsTheTraceWithOneBoxAndProgrammingGoesOn) {
  std::ofstream(Path()) << std::string(3000, '.');
  chmod(Path().c_str(), 0600);
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
  chmod(full.c_str(), 0600);
  const TFileSizeLimit limit(3000);
  Start();
  ASSERT_TRUE(form->StartLineTrace(full));
  ASSERT_TRUE(form->StartLineTrace(Path()));  // the first is written out, and fails, first
  QCoreApplication::sendPostedEvents(form.get());
  EXPECT_TRUE(form->LineTraceActive());
  EXPECT_TRUE(TraceItem()->isChecked());
  EXPECT_TRUE(boxes.errors.isEmpty());
}

// In English or in Spanish (the port's messages are 8-bit text), the file stays UTF-8.
TEST_F(TracedWindow, PortErrorsAreRecorded) {
  const struct {
    const char* language;
    TMessageTranslator translator;
    QString message;
  } cases[] = {
      {"English", {}, QStringLiteral("WriteFile function failed (win error code: 5)")},
      {"Spanish",
       [](const QString& english) {
         QString spanish = english;
         spanish.replace(QStringLiteral("WriteFile function failed"),
                         QStringLiteral("Falló la función WriteFile"));
         return spanish.replace(QStringLiteral("win error code"),
                                QStringLiteral("código de error"));
       },
       QStringLiteral("Falló la función WriteFile (código de error: 5)")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    InitPortErrorMessages(c.translator);
    std::filesystem::remove(Path());
    boxes.errors.clear();
    Start({.hangUpAfter = 1}, Path());
    Send();
    ASSERT_TRUE(ServeUntil([&] { return form->ComPort1()->EventLoopEnded(); }));
    Send(false);
    EXPECT_EQ(boxes.errors, QStringList{c.message});
    form->StopLineTrace();
    std::vector<std::string> notes;
    for (const std::string& entry : Entries(Path())) {
      if (entry.rfind("ERROR", 0) == 0 || entry.rfind("BOX error", 0) == 0) notes.push_back(entry);
    }
    const std::string message = c.message.toUtf8().toStdString();
    EXPECT_EQ(notes, (std::vector<std::string>{"ERROR line: I/O", "ERROR " + message,
                                               "BOX error: " + message}));
    form.reset();
    unit.reset();
  }
  InitPortErrorMessages({});
}

// The speed the port was opened at, a custom one too.
TEST_F(TracedWindow, TheOpeningNamesThePortsSpeed) {
  const struct {
    const char* settings;
    const char* speed;
  } cases[] = {
      {"", "9600"},
      {"BaudRate=19200\n", "19200"},
      {"BaudRate=Custom\nCustomBaudRate=12345\n", "12345"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.speed);
    std::filesystem::remove(Path());
    Start({}, Path(), false, c.settings);
    form->StopLineTrace();
    const std::vector<std::string> entries = Entries(Path());
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0], "OPEN " + Device() + " " + c.speed + " baud");
    form.reset();
    unit.reset();
  }
}

// A trace holds customers' numbers: a file another may read is refused, with the way to mend
// it; the operator's own, unreadable by others, is taken.
TEST_F(TracedWindow, ATraceFileOthersMayReadIsRefusedWithHowToMendIt) {
  if (geteuid() != 0) GTEST_SKIP() << "a file of another user's needs root to make";
  const QString mend = QStringLiteral(
      "otros usuarios pueden leerlo, y el registro guarda los números de teléfono de los "
      "clientes. Para que solo usted pueda leerlo, ejecute\n\nchmod 600 '%1'\n\no elija otro "
      "archivo.");
  const QString others = QStringLiteral(
      "pertenece a otro usuario, que podría leer los números de teléfono de los clientes. Elija "
      "un archivo suyo.");
  const struct {
    const char* name;
    mode_t mode;
    uid_t owner;
    QString said;  // empty: taken
  } cases[] = {
      {"its owner's alone", 0600, 0, {}},       {"readable by all", 0644, 0, mend},
      {"readable by its group", 0640, 0, mend}, {"writable by others, not readable", 0602, 0, {}},
      {"another user's", 0600, 4000, others},
  };
  Start();
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.filePath(QStringLiteral("t%1.log").arg(++round)).toStdString();
    std::ofstream(path) << "an earlier trace\n";
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    ASSERT_EQ(chown(path.c_str(), c.owner, c.owner), 0);
    boxes.errors.clear();
    EXPECT_EQ(form->StartLineTrace(path), c.said.isEmpty());
    if (c.said.isEmpty()) {
      EXPECT_TRUE(boxes.errors.isEmpty());
      continue;
    }
    EXPECT_EQ(boxes.errors,
              QStringList{QStringLiteral("No se puede abrir el registro de la línea \"%1\": ")
                              .arg(QString::fromStdString(path)) +
                          c.said.arg(QString::fromStdString(path))});
    EXPECT_FALSE(TraceItem()->isChecked());
    EXPECT_EQ(ReadAll(path), "an earlier trace\n");
  }
}

// Closing the window with its trace on a pipe that takes nothing: the window goes, within
// about a second, and the program can end.
TEST_F(TracedWindow, ClosingTheWindowIsNotHeldByATraceThatTakesNothing) {
  const std::string fifo = dir.filePath(QStringLiteral("fifo")).toStdString();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const int filler = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(filler, 0);
  const std::string block(4096, '.');
  while (write(filler, block.data(), block.size()) > 0) {
  }
  Start({}, fifo);
  ASSERT_TRUE(form->LineTraceActive());
  Send();
  EXPECT_EQ(boxes.messages, QStringList{messages::kProgrammed});
  EXPECT_TRUE(ReturnsWithoutRelease([&] { form.reset(); },
                                    [&] {
                                      char buffer[4096];
                                      while (read(reader, buffer, sizeof buffer) > 0) {
                                      }
                                    }))
      << "closing the window waited for the trace";
  close(filler);
  close(reader);
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
    tracedBeforeTheBox = WaitUntil(
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
