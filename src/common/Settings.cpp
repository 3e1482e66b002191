#include "common/Settings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "common/Text.h"

namespace gs {

namespace {

constexpr const char* EmptyText = "(null)";

// One line of the file without its line break (a "\r\n" file reads too).
bool NextLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// A text line; with `trim`, without its leading and trailing blanks, taken
// off before the line is compared with the empty text's marker, so that
// what is read is what is written back and read again.
void ReadText(std::istream& in, std::string& value, bool trim = false) {
    std::string line;
    if (!NextLine(in, line)) return;
    if (line.size() > Settings::MaxTextLength) line.resize(Settings::MaxTextLength);
    // A carriage return at the end is line-break debris, never part of the
    // text: kept, it would be written back and then lost on the next read.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (trim) {
        // Blanks and carriage returns leave the end together: a blank after
        // a carriage return would otherwise uncover it, and it would be lost
        // on the next read.
        const std::size_t last = line.find_last_not_of(" \t\r");
        line.erase(last == std::string::npos ? 0 : last + 1);
        line = TrimBlanks(line);
    }
    value = line == EmptyText ? std::string() : line;
}

// A signed decimal integer at the start of the line (leading blanks allowed,
// as a formatted read would); anything else leaves the value unchanged.
void ReadNumber(std::istream& in, int& value) {
    std::string line;
    if (!NextLine(in, line)) return;
    const char* start = line.c_str();
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(start, &end, 10);
    if (end == start || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return;
    value = static_cast<int>(parsed);
}

}  // namespace

void ReadSettings(Settings& s, const std::string& path) {
    std::ifstream in(path);
    if (!in) return;
    ReadText(in, s.ServerIP, true);  // an address never starts or ends with a blank
    ReadNumber(in, s.InSimPort);
    ReadText(in, s.AdminPassword);
    ReadNumber(in, s.ShowNames);
    ReadNumber(in, s.ShowSpeed);
    ReadNumber(in, s.SmoothMovement);
    ReadNumber(in, s.UseKmh);
    ReadNumber(in, s.AlwaysOnTop);
    ReadNumber(in, s.IconSize);
    ReadNumber(in, s.DesiredFps);
    s.AlwaysOnTop = 0;
}

void WriteSettings(const Settings& s, const std::string& path) {
    std::ofstream out(path, std::ios::trunc);
    if (!out) return;
    auto text = [](const std::string& v) { return v.empty() ? std::string(EmptyText) : v; };
    out << text(s.ServerIP) << '\n'
        << s.InSimPort << '\n'
        << text(s.AdminPassword) << '\n'
        << s.ShowNames << '\n'
        << s.ShowSpeed << '\n'
        << s.SmoothMovement << '\n'
        << s.UseKmh << '\n'
        << s.AlwaysOnTop << '\n'
        << s.IconSize << '\n'
        << s.DesiredFps << '\n';
}

int EffectiveFps(const Settings& s) { return s.DesiredFps >= 1 ? s.DesiredFps : 20; }

// Never 0: a zero-interval timer would spin a core and starve the others.
int FrameInterval(const Settings& s) { return std::max(1, 1000 / EffectiveFps(s)); }

}  // namespace gs
