#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>

#include "PtyPair.h"
#include "framework/Application.h"
#include "serial/ComError.h"

// Every suite runs headless with the program's own application object, its settings in a
// folder of its own, and the main window's port on a pseudo-terminal instead of COM1.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  vardelio::TApplication application(argc, argv);
  vardelio::TApplication::SetTitle(QStringLiteral("Vardelio"));
  vardelio::InitPortErrorMessages({});

  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  // The history, which every operation appends to, is the run's own too.
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
  QDir(config.path()).mkpath(QStringLiteral("vardelio"));
  vardelio::test::TPtyPair line;
  std::ofstream(config.path().toStdString() + "/vardelio/comporttest.ini")
      << "[ComPort1]\nPort=" << line.DevicePath() << "\n";
  return RUN_ALL_TESTS();
}
