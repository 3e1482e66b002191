// Small text helpers used by the wire handlers, the log and the screen.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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
// The same text in place, without a copy.
std::string_view FieldView(const char* field, std::size_t width);

// The text without its leading and trailing blanks (spaces and tabs).
std::string TrimBlanks(std::string_view text);

// printf into a std::string, cut to at most `limit` characters.
std::string FormatLimited(std::size_t limit, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Server texts are in the Windows-1252 code page: codes below 0x80 and from
// 0xA0 on are the Unicode characters of the same number, and 0x80 to 0x9F
// hold the euro sign, curly quotes, dashes and a few letters. Gives the
// character of `code`, or 0 for the five codes the page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D).
char32_t Windows1252Char(unsigned char code);

// A server text as UTF-8. Undefined codes are left out.
std::string Windows1252ToUtf8(std::string_view text);

// A server text as UTF-8 with every byte kept: the five undefined codes
// become the control characters of the same number (U+0081 and so on), so
// two different texts never give the same UTF-8 and the bytes can be told
// back from it. For names that identify someone.
std::string Windows1252ToUtf8Keeping(std::string_view text);

// UTF-8 typed by the user as a server text: each character the code page
// holds becomes its byte, any other character (or a broken UTF-8 sequence)
// becomes '?'.
std::string Utf8ToWindows1252(std::string_view text);

}  // namespace gs
