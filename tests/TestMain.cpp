#include <gtest/gtest.h>

#include "framework/Application.h"

// Every suite runs headless with the program's own application object.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  vardelio::TApplication application(argc, argv);
  vardelio::TApplication::SetTitle(QStringLiteral("Vardelio"));
  return RUN_ALL_TESTS();
}
