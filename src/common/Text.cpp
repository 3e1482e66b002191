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

std::string FieldText(const char* field, std::size_t width) {
    const void* end = std::memchr(field, 0, width);
    return std::string(field, end ? static_cast<const char*>(end) - field : width);
}

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

}  // namespace gs
