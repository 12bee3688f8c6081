// How the POSIX platform turns the C library's time formats into the
// Windows-style locale items the plug-in reads, and the locale calls built
// on that (posix_locale.cpp).
//
// The plug-in asks for a short-date picture ("dd.MM.yyyy"), a date and a
// time separator, and whether hours carry a leading zero. POSIX locales
// hold strftime formats instead (D_FMT "%d.%m.%Y", T_FMT "%H:%M:%S"). These
// functions translate one into the other, or give nothing when the format
// holds something without a counterpart, so that the reader's default for
// that item stands. They are pure, so tests can drive them with formats no
// installed locale has.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tarveld::platform {

// The short-date picture for a D_FMT: %d, %e, %m, %Y and %y become dd, d,
// MM, yyyy and yy (%D and %F are expanded first). Literal characters are
// kept so that they render as themselves: letters, quotes, ":" and any "/"
// that is not the date separator are quoted. Any other conversion, or a
// "%" at the end, gives nothing.
std::optional<std::string> ShortDatePicture(std::string_view d_fmt);

// The date separator of a D_FMT: its first literal character, when the
// picture can be made and that character is printable ASCII other than a
// letter or digit. One byte is all a separator slot holds, so a character
// of a multibyte encoding gives nothing rather than the first byte of it.
std::optional<std::string> DateSeparator(std::string_view d_fmt);

// "1" when a T_FMT's hour is %H or %I (zero-padded), "0" for %k or %l
// (blank-padded); %T and %R are expanded first. Nothing without one of
// those, such as a T_FMT of "%r".
std::optional<std::string> HourLeadingZero(std::string_view t_fmt);

// The character right after the T_FMT's hour conversion, under the same
// rule as DateSeparator; nothing when a conversion, a letter or the end
// follows the hour.
std::optional<std::string> TimeSeparator(std::string_view t_fmt);

// The locale calls of the POSIX platform, as Platform describes them.
// Identifier 0 is the C locale, whose items are all left to the defaults;
// any other stands for a locale name met in the environment (LC_ALL, then
// LC_TIME, then LANG), opened once for its LC_TIME data.
LocaleId PosixUserDefaultLocale();
void PosixSetThreadLocale(LocaleId locale);
LocaleId PosixThreadLocale();
int PosixLocaleInfo(LocaleId locale, int item, char* buffer, int size);

}  // namespace tarveld::platform
