#pragma once
// Which characters, and how many, the operator may type into the programming entries.

#include <QChar>
#include <string_view>

namespace vardelio {

inline constexpr std::string_view kSubscriberCharacters = "0123456789BCDEF";
inline constexpr std::string_view kPhoneCharacters = "0123456789,*#";
inline constexpr char16_t kBackspace = 8;
inline constexpr int kSubscriberTypingLimit = 4;
inline constexpr int kPhoneTypingLimit = 31;

inline bool IsTypeable(std::string_view allowed, QChar typed) {
  if (typed.unicode() == kBackspace) return true;
  return typed.unicode() < 0x80 && allowed.find(char(typed.unicode())) != std::string_view::npos;
}

}  // namespace vardelio
