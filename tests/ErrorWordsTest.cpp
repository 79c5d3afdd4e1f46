// The words beneath an error box that carries a system code, in English and in Spanish.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "RecordingPresenter.h"
#include "app/CommandLine.h"
#include "framework/Ansi.h"
#include "framework/Dialogs.h"
#include "i18n/TranslationEngine.h"
#include "serial/ComError.h"
#include "serial/SystemCodeText.h"

using namespace vardelio;

namespace {

namespace fs = std::filesystem;

// The shipped Spanish catalog in a locale folder of the test's own.
class ErrorWords : public ::testing::Test {
 protected:
  ErrorWords() {
    const fs::path folder = fs::path(root) / "es" / "LC_MESSAGES";
    fs::create_directories(folder);
    fs::copy_file(fs::path(VARDELIO_CATALOG_DIR) / "es/LC_MESSAGES/default.mo",
                  folder / "default.mo");
  }
  void UseEngine(const std::string& language) {
    engine.SelectLanguage(language);
    engine.BindDomainDirectory("default", root);
  }

  QTemporaryDir dir;
  std::string root = dir.path().toStdString();
  TTranslationEngine& engine = DefaultEngine();
};

// The codes the help explains, as it lists them ("    11, 16  the port is in use...").
std::set<int> CodesTheHelpLists() {
  const char* argv[] = {"vardelio", "--help"};
  std::ostringstream out, errors;
  HandleCommandLine(2, argv, out, errors, nullptr);
  std::set<int> codes;
  const std::regex row(R"(^ {4}(\d+(, \d+)*) {2,}\S)");
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, row)) continue;
    std::istringstream numbers(match[1].str());
    for (std::string n; std::getline(numbers, n, ',');)
      codes.insert(std::stoi(n));
  }
  return codes;
}

TEST_F(ErrorWords, EveryErrorBoxWithASystemCodeSaysWhatItMeansInTheUsersLanguage) {
  const struct {
    int code;
    const char* english;
    const char* spanish;
  } cases[] = {
      {2, "does not exist", "El puerto no existe"},
      {5, "stopped answering", "dejó de responder"},
      {9, "is not open", "no está abierto"},
      {11, "in use by another program", "Otro programa está usando el puerto"},
      {13, "group dialout", "grupo dialout"},
      {16, "in use by another program", "Otro programa está usando el puerto"},
      {6, "does not exist", "El puerto no existe"},
      {19, "does not exist", "El puerto no existe"},
      {25, "not a serial port", "no es un puerto serie"},
      {22, "The system reported: Invalid argument.", "El sistema informó: Invalid argument."},
  };
  std::set<int> explained;
  for (const auto& c : cases)
    explained.insert(c.code);
  for (const int listed : CodesTheHelpLists())
    EXPECT_TRUE(explained.count(listed)) << listed;
  EXPECT_EQ(CodesTheHelpLists(), (std::set<int>{2, 11, 13, 16}));

  for (const bool spanish : {false, true}) {
    if (spanish) {
      UseEngine("es");
      InitPortErrorMessages([&](const QString& text) { return engine.TranslateText(text); });
    }
    SetErrorExplainer(&ExplainPortError);
    for (const auto& c : cases) {
      test::TRecordingPresenter boxes;
      const EComPort error(2, c.code);
      ReportException(error);
      ASSERT_EQ(boxes.errors.size(), 1) << c.code;
      // The box's own text stays the port's message; the explanation is beneath it.
      EXPECT_EQ(boxes.errors[0], ErrorReportText(FromAnsi(error.what()))) << c.code;
      ASSERT_EQ(boxes.explanations.size(), 1) << c.code;
      EXPECT_TRUE(
          boxes.explanations[0].contains(QString::fromUtf8(spanish ? c.spanish : c.english)))
          << c.code << " " << boxes.explanations[0].toStdString();
    }
    // Errors without a system code, and errors of other kinds, add nothing.
    const EComPort bare(14);
    const std::runtime_error other("x");
    for (const std::exception* error :
         {static_cast<const std::exception*>(&bare), static_cast<const std::exception*>(&other)}) {
      test::TRecordingPresenter boxes;
      ReportException(*error);
      EXPECT_EQ(boxes.errors.size(), 1);
      EXPECT_TRUE(boxes.explanations.isEmpty());
    }
    SetErrorExplainer({});
  }
  InitPortErrorMessages({});
  if (HasFailure()) return;
  test::TRecordingPresenter boxes;
  ReportException(EComPort(1, 13));  // no explainer installed: the bare box
  EXPECT_TRUE(boxes.explanations.isEmpty());
}

}  // namespace
