// The ten settings and their file "Gridscope.ini".
//
// The file holds ten lines, one value per line, in the order of the fields
// below: texts as they are ("(null)" for an empty text), numbers and flags
// as signed decimal integers. Reading goes line by line, so a text keeps its
// spaces and a bad line disturbs only its own setting.
#pragma once

#include <string>

namespace gs {

struct Settings {
    static constexpr std::size_t MaxTextLength = 127;

    std::string ServerIP;
    int InSimPort = 0;
    std::string AdminPassword;
    int ShowNames = 0;
    int ShowSpeed = 0;
    int SmoothMovement = 0;
    int UseKmh = 0;
    int AlwaysOnTop = 0;
    int IconSize = 0;
    int DesiredFps = 0;
};

constexpr const char* SettingsFileName = "Gridscope.ini";

// Reads the file; a missing file leaves every setting as it is, a short file
// the missing ones. "(null)" reads back as an empty text; the on-top flag is
// always cleared at start.
void ReadSettings(Settings& settings, const std::string& path = SettingsFileName);
// Writes the file, replacing it; a file that cannot be written is skipped.
void WriteSettings(const Settings& settings, const std::string& path = SettingsFileName);

// The frame rate the frame timer and the camera use: DesiredFps, or 20 when
// it is below 1 (the stored setting is left as it is).
int EffectiveFps(const Settings& settings);
// The frame timer's interval in ms: 1000 div the effective frame rate.
int FrameInterval(const Settings& settings);

}  // namespace gs
