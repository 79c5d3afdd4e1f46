// Any bytes under a catalog's name give a translation or one of the loader's failure texts,
// never a crash or a hang in glibc; a "%" in a translation reaches no formatter.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "FuzzInput.h"
#include "i18n/TranslationEngine.h"
#include "serial/ComError.h"

using namespace vardelio;

namespace {

const std::string& Folder() {
  return fuzz::TempFolder();
}

bool IsFailureText(const std::string& text) {
  return text.rfind("This file is not a valid GNU gettext mo file: ", 0) == 0 ||
         text.rfind("Cannot open file ", 0) == 0 || text.rfind("Cannot map file ", 0) == 0 ||
         text.rfind("Cannot create memory map on file ", 0) == 0 ||
         text.rfind("Error: Could not translate ", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Every run's engine reads the file afresh and hands glibc a copy of its own to load.
  const std::string domain = "fuzz";
  const std::filesystem::path file =
      std::filesystem::path(Folder()) / "es" / "LC_MESSAGES" / (domain + ".mo");
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), std::streamsize(size));

  TTranslationEngine engine(Folder());
  engine.SelectLanguage("es_AR");
  engine.SetCurrentDomain(domain);
  try {
    engine.TranslateText(QStringLiteral("Unable to open com port"));
    engine.TranslateText(QStringLiteral("two\r\nlines"));
    engine.TranslateText(QStringLiteral("Sent %d bytes"));
    InitPortErrorMessages([&](const QString& text) { return engine.TranslateText(text); });
    const std::string message = EComPort(1, 2).what();  // the suffix's "%" stays text
    if (message.empty()) std::abort();
  } catch (const ETranslationError& error) {
    if (!IsFailureText(error.what())) std::abort();
  }
  InitPortErrorMessages({});
  return 0;
}
