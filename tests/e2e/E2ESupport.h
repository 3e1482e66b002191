// End-to-end test support: a scratch run folder made from the build's run
// folder (bitmaps copied, tracks linked), the settings file, and the peers.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace gs::test {

// The demo server's name as its spectators show it.
constexpr const char* DemoServerName = "Gridscope Demo";

class E2ERunFolder : public ScratchFolder {
public:
    explicit E2ERunFolder(const std::string& name) : ScratchFolder(name) {
        namespace fs = std::filesystem;
        fs::remove(Path() + "/files");
        fs::create_directory_symlink(GRIDSCOPE_RUN_DIR "/files", Path() + "/files");
        for (const auto& entry : fs::directory_iterator(GRIDSCOPE_RUN_DIR))
            if (entry.path().extension() == ".bmp")
                fs::copy_file(entry.path(), Path() + "/" + entry.path().filename().string());
    }

    // Server, port, password, names, speeds, smoothing, km/h, on top, icon
    // size, frames per second.
    std::string WriteSettings(int port, const std::string& password = "demo") {
        const std::string text = "127.0.0.1\n" + std::to_string(port) + "\n" + password + "\n1\n1\n0\n1\n0\n25\n20\n";
        std::ofstream(Path() + "/Gridscope.ini") << text;
        return text;
    }
};

// A race server of the project's on a free loopback port.
inline std::unique_ptr<ChildProcess> StartRaceServer(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {
        GRIDSCOPE_RACESERVER,  "--port", "0", "--admin", "demo", "--files", GRIDSCOPE_RUN_DIR "/files", "--name",
        "^1Grid^7scope ^3Demo"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(argv);
}

}  // namespace gs::test
