#pragma once
// Which language the catalogs are looked up in.

#include <string>

namespace vardelio {

// A language code from the locale's ISO 639 language and ISO 3166 country (es + AR gives
// es_AR); when they are not both two letters, from the platform's locale identifier through
// the fixed table of codes (1034 gives es_ES); otherwise "C".
std::string LanguageFromLocale(const std::string& language, const std::string& country,
                               unsigned localeId);

// The user's locale as this system gives it (LC_ALL, then LC_MESSAGES); Linux has no locale
// identifiers, so anything else is "C".
std::string DetectSystemLanguage();

// The code to use: `requested` when given; otherwise LANG, or the system's when LANG is empty;
// cut at the first full stop (es_AR.UTF-8 gives es_AR).
std::string ChooseLanguage(const std::string& requested);

}  // namespace vardelio
