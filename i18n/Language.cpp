#include "Language.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace vardelio {
namespace {

bool TwoLetters(const std::string& text) {
  return text.size() == 2 && std::isalpha(static_cast<unsigned char>(text[0])) &&
         std::isalpha(static_cast<unsigned char>(text[1]));
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The codes stand as the old table has them: gr_GR, ko_KO, en_UK and fi_SE included.
const std::map<unsigned, const char*>& LocaleIdCodes() {
  static const std::map<unsigned, const char*> codes = {
      {1030, "da_DK"}, {1031, "de_DE"}, {1032, "gr_GR"}, {1033, "en_US"}, {1034, "es_ES"},
      {1035, "fi_FI"}, {1036, "fr_FR"}, {1039, "is_IS"}, {1040, "it_IT"}, {1042, "ko_KO"},
      {1043, "nl_NL"}, {1044, "no_NO"}, {1045, "pl_PL"}, {1046, "pt_BR"}, {1049, "ru_RU"},
      {1053, "sv_SE"}, {2057, "en_UK"}, {2060, "fr_BE"}, {2067, "nl_BE"}, {2068, "nn_NO"},
      {2070, "pt_PT"}, {2077, "fi_SE"}, {3082, "es_ES"}, {3084, "fr_CA"}, {4103, "de_LU"}};
  return codes;
}

}  // namespace

std::string LanguageFromLocale(const std::string& language, const std::string& country,
                               unsigned localeId) {
  if (TwoLetters(language) && TwoLetters(country)) return language + "_" + country;
  const auto found = LocaleIdCodes().find(localeId);
  return found != LocaleIdCodes().end() ? found->second : "C";
}

std::string DetectSystemLanguage() {
  std::string locale = Environment("LC_ALL");
  if (locale.empty()) locale = Environment("LC_MESSAGES");
  // language[_COUNTRY][.codeset][@modifier]
  const std::string name = locale.substr(0, locale.find_first_of(".@"));
  const std::size_t underscore = name.find('_');
  if (underscore == std::string::npos) return LanguageFromLocale(name, "", 0);
  return LanguageFromLocale(name.substr(0, underscore), name.substr(underscore + 1), 0);
}

std::string ChooseLanguage(const std::string& requested) {
  if (!requested.empty()) return requested;
  std::string code = Environment("LANG");
  if (code.empty()) code = DetectSystemLanguage();
  return code.substr(0, code.find('.'));
}

}  // namespace vardelio
