// The whole program on the adapter, against the simulated unit on the host at its far end.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "LabLine.h"
#include "RecordingPresenter.h"
#include "SettingsFile.h"
#include "Waiting.h"
#include "app/MainForm.h"
#include "app/Workflow.h"
#include "serial/ComPort.h"

using namespace vardelio;
using namespace vardelio::lab;
using vardelio::test::ServeUntil;
using vardelio::test::SettingsPath;
using vardelio::test::TRecordingPresenter;

namespace {

namespace m = messages;

std::string Settings() {
  std::stringstream text;
  text << std::ifstream(SettingsPath()).rdbuf();
  return text.str();
}

class WholeProgram : public ::testing::Test {
 protected:
  void Start(const std::string& unitOptions) {
    Tell("unit start" + unitOptions);
    std::ofstream(SettingsPath()) << "[ComPort1]\nPort=/dev/ttyUSB0\n";
    form = std::make_unique<TForm1>();
  }
  void TearDown() override {
    form.reset();
    Tell("unit stop");
  }
  template <typename T = QWidget>
  T* Find(const char* name) {
    return form->findChild<T*>(QLatin1String(name));
  }
  void Type(const char* field, const QString& text) { Find<QLineEdit>(field)->setText(text); }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  bool WaitForMessages(int count) {
    return ServeUntil([&] { return boxes.messages.size() >= count; }, 20000);
  }

  TRecordingPresenter boxes;
  std::unique_ptr<TForm1> form;
};

TEST_F(WholeProgram, ProgramsTheUnitAndReadsTheProgrammingBack) {
  Start("");
  ASSERT_TRUE(form->ComPort1()->Connected());
  Type("Edit1", "1B2C");
  Type("Edit2", "12345678");
  Click("BitBtn1_Enviar");
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(boxes.messages.value(0), m::kProgrammed);
  Click("BitBtn2_Recibir");
  ASSERT_TRUE(WaitForMessages(2));
  EXPECT_EQ(boxes.messages.value(1), m::kReceived);
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "1B2C");
  EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), "12345678");
  EXPECT_TRUE(boxes.errors.isEmpty()) << boxes.errors.join('|').toStdString();
}

TEST_F(WholeProgram, TheAdapterPulledWhileWaitingIsToldOnceAndTheSettingsAreStored) {
  Start(" --silent");
  ASSERT_TRUE(form->ComPort1()->Connected());
  Click("BitBtn2_Recibir");
  Tell("unplug");
  ASSERT_TRUE(WaitForNode("/dev/ttyUSB0", false));
  // The wait ends as any unanswered request does: one box that says to check the connection.
  ASSERT_TRUE(WaitForMessages(1));
  ServeUntil([] { return false; }, 1000);
  EXPECT_EQ(boxes.messages, QStringList{m::kNothingReceived});
  EXPECT_TRUE(boxes.errors.isEmpty()) << boxes.errors.join('|').toStdString();
  // The next request finds the line gone and says so, once: a receive discards stale input
  // before it asks, so it is the discard that finds it.
  Click("BitBtn2_Recibir");
  EXPECT_EQ(boxes.errors, QStringList{"PurgeComm function failed (win error code: 5)"});
  ServeUntil([] { return false; }, 1000);
  EXPECT_EQ(boxes.errors.size(), 1);
  // Still usable: the fields take input and the buttons answer.
  QTest::keyClicks(Find<QLineEdit>("Edit1"), "1B");
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "1B");
  form->show();
  std::remove(SettingsPath().c_str());  // what is there after closing, closing stored
  EXPECT_TRUE(form->close());
  EXPECT_NE(Settings().find("Port=/dev/ttyUSB0"), std::string::npos) << Settings();
  EXPECT_NE(Settings().find("BaudRate=9600"), std::string::npos) << Settings();
  Tell("mode usb sink");
  Tell("replug");
  EXPECT_TRUE(WaitForNode("/dev/ttyUSB0", true));
}

}  // namespace
