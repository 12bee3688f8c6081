// RenderDateTime with any pattern, value and regional settings.
//
// Input: a mode byte; the value (mode even: eight bytes of a double, NaN
// and infinities included; mode odd: a 32-bit day number and a 32-bit
// fraction of the day); the date and time separators (a byte each); the
// short and long date patterns, the short and long time patterns, the
// morning and afternoon texts and a name text (each a length byte and its
// bytes; a non-empty name text stands for every month and day name and
// abbreviation); then the pattern. The result never exceeds 255 characters,
// and only EConvertError "Illegal character in format string" may escape.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "report/date_time.h"
#include "report/exceptions.h"
#include "report/format_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarveld::fuzz::FuzzInput input(data, size);
  const std::uint8_t mode = input.Byte();
  tarveld::TDateTime value;
  if (mode % 2 == 0) {
    value = input.Raw<double>();
  } else {
    const auto day = input.Raw<std::int32_t>();
    const auto fraction = input.Raw<std::uint32_t>();
    value = day + (day < 0 ? -1.0 : 1.0) * (fraction / 4294967296.0);
  }

  tarveld::TFormatSettings settings;
  settings.DateSeparatorChar = static_cast<char>(input.Byte());
  settings.TimeSeparatorChar = static_cast<char>(input.Byte());
  settings.ShortDatePattern = input.Text();
  settings.LongDatePattern = input.Text();
  settings.ShortTimePattern = input.Text();
  settings.LongTimePattern = input.Text();
  settings.AmText = input.Text();
  settings.PmText = input.Text();
  const std::string name(input.Text());
  if (!name.empty()) {
    for (std::size_t i = 1; i <= 12; ++i)
      settings.MonthNames[i] = settings.MonthAbbreviations[i] = name;
    for (std::size_t i = 1; i <= 7; ++i)
      settings.DayNames[i] = settings.DayAbbreviations[i] = name;
  }
  const std::string_view pattern = input.Rest();

  try {
    const std::string text = tarveld::RenderDateTime(pattern, value, settings);
    FUZZ_CHECK(text.size() <= 255);
  } catch (const tarveld::EConvertError& error) {
    FUZZ_CHECK(error.Message() == "Illegal character in format string");
  }
  return 0;
}
