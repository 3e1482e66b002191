// The file readers' fuzz harnesses; see FileHarness.h.
#include "FileHarness.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/Settings.h"

namespace gs::fuzz {

const std::string& ScratchDir() {
    static const std::string dir = [] {
        const auto path = std::filesystem::temp_directory_path() /
                          ("gridscope-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path.string();
    }();
    return dir;
}

void WriteFileBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

namespace {

std::string CompareSettings(const Settings& a, const Settings& b) {
    if (a.ServerIP != b.ServerIP) return "ServerIP \"" + a.ServerIP + "\" came back as \"" + b.ServerIP + "\"";
    if (a.AdminPassword != b.AdminPassword)
        return "AdminPassword \"" + a.AdminPassword + "\" came back as \"" + b.AdminPassword + "\"";
    const int numbers[][2] = {{a.InSimPort, b.InSimPort},     {a.ShowNames, b.ShowNames},
                              {a.ShowSpeed, b.ShowSpeed},     {a.SmoothMovement, b.SmoothMovement},
                              {a.UseKmh, b.UseKmh},           {a.AlwaysOnTop, b.AlwaysOnTop},
                              {a.IconSize, b.IconSize},       {a.DesiredFps, b.DesiredFps}};
    for (const auto& n : numbers)
        if (n[0] != n[1]) return "number " + std::to_string(n[0]) + " came back as " + std::to_string(n[1]);
    return {};
}

std::string CheckText(const char* what, const std::string& text) {
    if (text.size() > Settings::MaxTextLength) return std::string(what) + " longer than 127 characters";
    if (text.find('\n') != std::string::npos) return std::string(what) + " holds a line break";
    return {};
}

}  // namespace

std::string RunSettingsInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchDir() + "/Gridscope.ini";
    const std::string again = ScratchDir() + "/Gridscope-again.ini";
    WriteFileBytes(path, data, size);

    // Values the file may leave alone.
    Settings read;
    read.ServerIP = "kept.example";
    read.InSimPort = 29999;
    read.DesiredFps = 50;
    ReadSettings(read, path);
    for (const std::string& broken : {CheckText("ServerIP", read.ServerIP), CheckText("AdminPassword", read.AdminPassword)})
        if (!broken.empty()) return broken;
    if (read.AlwaysOnTop != 0) return "AlwaysOnTop read as " + std::to_string(read.AlwaysOnTop);

    // What was read is what the program writes at exit: it must read back
    // unchanged into settings that start elsewhere.
    WriteSettings(read, again);
    Settings back;
    back.ServerIP = "other.example";
    back.InSimPort = -1;
    back.ShowNames = back.ShowSpeed = back.SmoothMovement = back.UseKmh = back.IconSize = back.DesiredFps = -7;
    ReadSettings(back, again);
    return CompareSettings(read, back);
}

}  // namespace gs::fuzz
