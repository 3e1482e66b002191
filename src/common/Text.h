// Small text helpers used by the wire handlers, the log and the screen.
#pragma once

#include <cstddef>
#include <string>

namespace gs {

// The simulator writes colour codes into names as "^" and one character.
// Looks at no more than `width` bytes of `source` (and never past 32), stops
// at a zero byte, and returns the text without its colour codes. A caret in
// the last examined position is dropped alone.
std::string StripColourCodes(const char* source, std::size_t width = 32);

// Decimal text of n with a leading "0" below 10: 7 gives "07", 12 "12".
std::string TwoDigits(int n);

// A time as "m:ss.hh": 1 minute 5 seconds 7 hundredths gives "1:05.07".
std::string LapTimeText(int minutes, int seconds, int hundredths);

// The text of a fixed-width, zero-padded field: up to its first zero byte,
// never more than `width` bytes.
std::string FieldText(const char* field, std::size_t width);

// printf into a std::string, cut to at most `limit` characters.
std::string FormatLimited(std::size_t limit, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace gs
