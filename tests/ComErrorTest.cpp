#include <gtest/gtest.h>

#include "serial/ComError.h"

using namespace vardelio;

namespace {

TEST(ComError, MessagesComposeWithTheSystemCode) {
  const EComPort withCode(1, 2);
  EXPECT_STREQ(withCode.what(), "Unable to open com port (win error code: 2)");
  EXPECT_EQ(withCode.PortErrorCode(), 1);
  EXPECT_EQ(withCode.SystemCode(), 2);
  const EComPort bare(18);
  EXPECT_STREQ(bare.what(), "Link (un)registration failed");
  EXPECT_EQ(bare.SystemCode(), -1);
  EXPECT_EQ(PortErrorMessage(23), "Registry error");
  EXPECT_EQ(PortErrorMessage(0), "");
  EXPECT_EQ(PortErrorMessage(24), "");
}

TEST(ComError, TheNumberIsSubstitutedWithoutAFormatter) {
  const struct {
    const char* format;
    const char* expected;
  } cases[] = {
      {"code %d", "code 5"},
      {"%d and %d", "5 and %d"},
      {"%s %n %x %d", "%s %n %x 5"},  // other specifiers stay as text
      {"100%% %d", "100% 5"},
      {"trailing %", "trailing %"},
      {"none", "none"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SubstituteNumber(c.format, 5), c.expected) << c.format;
}

TEST(ComError, TranslatedTextsFillTheTableOnceAndServeTheSuffixEachTime) {
  int suffixLookups = 0;
  InitPortErrorMessages([&](const QString& english) {
    if (english.startsWith(' ')) {
      ++suffixLookups;
      return QStringLiteral(" (código de error %s %d)");  // a careless translation
    }
    return english == "Unable to open com port" ? QString::fromUtf8("No se puede abrir el puerto")
                                                : english;
  });
  const EComPort error(1, 13);
  EXPECT_STREQ(error.what(),
               "No se puede abrir el puerto (c\xf3"
               "digo de error %s 13)");
  EComPort(1, 13);
  EXPECT_EQ(suffixLookups, 2);  // once per error, not while filling
  InitPortErrorMessages({});
  EXPECT_STREQ(EComPort(1, 2).what(), "Unable to open com port (win error code: 2)");
}

}  // namespace
