#include "common/Text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace gs {

std::string StripColourCodes(const char* source, std::size_t width) {
    if (width > 32) width = 32;
    std::string out;
    out.reserve(width);
    for (std::size_t i = 0; i < width; ++i) {
        const char c = source[i];
        if (c == '\0') break;
        if (c == '^') {
            // The code's character goes with the caret; a terminator right
            // after a caret still ends the text.
            if (i + 1 < width && source[i + 1] == '\0') break;
            ++i;
            continue;
        }
        out.push_back(c);
    }
    return out;
}

std::string TwoDigits(int n) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, n < 10 ? "0%d" : "%d", n);
    return buffer;
}

std::string LapTimeText(int minutes, int seconds, int hundredths) {
    return std::to_string(minutes) + ":" + TwoDigits(seconds) + "." + TwoDigits(hundredths);
}

std::string_view FieldView(const char* field, std::size_t width) {
    const void* end = std::memchr(field, 0, width);
    return std::string_view(field, end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : width);
}

std::string FieldText(const char* field, std::size_t width) { return std::string(FieldView(field, width)); }

std::string FormatLimited(std::size_t limit, const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string text(buffer);
    if (text.size() > limit) text.resize(limit);
    return text;
}

namespace {

// Windows-1252 at 0x80 to 0x9F; 0 where the code page has no character.
constexpr char16_t CodePage80To9F[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       //
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        // Every character of the code page lies below 0x10000.
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The code page's byte for `c`, or -1.
int Windows1252Byte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (int i = 0; i < 32; ++i)
        if (CodePage80To9F[i] != 0 && CodePage80To9F[i] == c) return 0x80 + i;
    return -1;
}

}  // namespace

char32_t Windows1252Char(unsigned char code) {
    return code >= 0x80 && code < 0xA0 ? CodePage80To9F[code - 0x80] : code;
}

std::string Windows1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char byte : text) {
        const char32_t c = Windows1252Char(static_cast<unsigned char>(byte));
        if (c != 0 || byte == '\0') AppendUtf8(out, c);
    }
    return out;
}

std::string Windows1252ToUtf8Keeping(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char byte : text) {
        const auto code = static_cast<unsigned char>(byte);
        const char32_t c = Windows1252Char(code);
        AppendUtf8(out, c != 0 ? c : code);
    }
    return out;
}

std::string Utf8ToWindows1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80             ? 1
                           : (lead & 0xE0) == 0xC0 ? 2
                           : (lead & 0xF0) == 0xE0 ? 3
                           : (lead & 0xF8) == 0xF0 ? 4
                                                   : 0;
        char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        bool valid = length != 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        const int byte = valid ? Windows1252Byte(c) : -1;
        out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
        i += valid ? length : 1;
    }
    return out;
}

std::string TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::string();
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

}  // namespace gs
