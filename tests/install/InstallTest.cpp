// The installed program: `cmake --install` of this build into a scratch
// prefix, then the installed launcher with a scratch HOME (with a space in
// it), the installed program under the test's X server, and the desktop
// files through their validators.
//
//   InstalledTree    - where each part lands, the icons, the validators, the
//                      manual pages; the hub's service as systemd reads it
//   Launcher         - arguments, the per-user folder, upgrades, two at once
//                      (with a stand-in program that only reports its folder)
//   InstalledProgram - the real program started through the desktop entry's
//                      Exec line: its first frame, its settings, a user's mesh
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace gs {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Result {
    int status = -1;
    std::string output;  // standard output and error
};

// Runs a command line with the shell; its exit status and all it printed.
Result Shell(const std::string& command) {
    Result result;
    if (FILE* pipe = popen(("{ " + command + "; } 2>&1").c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Every path under a folder with its kind, size and modification time.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        lstat(entry.path().c_str(), &st);
        entries[entry.path().string()] = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                                         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }
    return entries;
}

// A scratch folder with this build installed under prefix/ and a home
// folder whose name has a space.
class Installed : public ::testing::Test {
protected:
    fs::path root, prefix, home;

    void SetUp() override {
        root = fs::path(::testing::TempDir()) / ("gridscope-install-" + std::to_string(getpid()));
        fs::remove_all(root);
        prefix = root / "prefix";
        home = root / "home with space";
        fs::create_directories(home);
        const Result install =
            Shell(Quote(GRIDSCOPE_CMAKE) + " --install " + Quote(GRIDSCOPE_BUILD_DIR) + " --prefix " + Quote(prefix));
        ASSERT_EQ(install.status, 0) << install.output;
    }
    void TearDown() override {
        Shell("chmod -R u+w " + Quote(root));
        fs::remove_all(root);
    }

    fs::path Data() const { return prefix / "share/gridscope"; }
    // The per-user run folder when XDG_DATA_HOME is not set.
    fs::path RunFolder() const { return home / ".local/share/gridscope"; }
    // The environment of a user with that home and no XDG_DATA_HOME.
    std::string UserEnv() const { return "env -u XDG_DATA_HOME HOME=" + Quote(home); }
};

TEST_F(Installed, PartsLandInTheirPlacesWithIconsAndValidDesktopFiles) {
    for (const char* command :
         {"bin/gridscope", "bin/gridscope-raceserver", "bin/gridscope-relay", "lib/gridscope/Gridscope"})
        EXPECT_EQ(access((prefix / command).c_str(), X_OK), 0) << command;
    std::istringstream tools(GRIDSCOPE_TOOLS);  // every tool the build has
    for (std::string tool; tools >> tool;) EXPECT_EQ(access((prefix / "bin" / tool).c_str(), X_OK), 0) << tool;
    EXPECT_FALSE(fs::exists(prefix / "bin/Gridscope"));  // the program is no command of its own

    // The data: every bitmap and track file of the build's run folder.
    int bitmaps = 0, meshes = 0;
    for (const auto& name : Names(GRIDSCOPE_RUN_DIR))
        if (fs::path(name).extension() == ".bmp") {
            ++bitmaps;
            EXPECT_EQ(ReadFile(Data() / name), ReadFile(fs::path(GRIDSCOPE_RUN_DIR) / name)) << name;
        }
    for (const auto& name : Names(fs::path(GRIDSCOPE_RUN_DIR) / "files")) {
        meshes += fs::path(name).extension() == ".smx";
        EXPECT_TRUE(fs::is_regular_file(Data() / "files" / name)) << name;
    }
    EXPECT_EQ(bitmaps, 43);
    EXPECT_EQ(meshes, 6);
    EXPECT_EQ(Names(Data() / "files"), Names(fs::path(GRIDSCOPE_RUN_DIR) / "files"));
    EXPECT_TRUE(fs::is_regular_file(Data() / "readme.txt"));

    // The icon: the SVG, and PNGs of 16 to 256 pixels, square, with alpha;
    // the tile's corner is clear and its middle solid.
    const std::string id = GRIDSCOPE_APP_ID;
    const fs::path theme = prefix / "share/icons/hicolor";
    const std::string svg = ReadFile(theme / "scalable/apps" / (id + ".svg"));
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("viewBox=\"0 0 256 256\""), std::string::npos);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string png =
            ReadFile(theme / (std::to_string(size) + "x" + std::to_string(size)) / "apps" / (id + ".png"));
        ASSERT_GE(png.size(), 33u) << size;
        // Signature, then the IHDR chunk: width and height big-endian at 16
        // and 20, colour type at 25 (6: RGB with alpha).
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        auto be32 = [&](std::size_t at) {
            return int(std::uint8_t(png[at])) << 24 | int(std::uint8_t(png[at + 1])) << 16 |
                   int(std::uint8_t(png[at + 2])) << 8 | int(std::uint8_t(png[at + 3]));
        };
        EXPECT_EQ(be32(16), size);
        EXPECT_EQ(be32(20), size);
        EXPECT_EQ(png[25], 6) << size;
        const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(png.data()), int(png.size()), "PNG");
        ASSERT_EQ(image.width(), size);
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
    }

    // The menu entry names the launcher and the icon, and the metainfo this
    // version; both pass their validators without a remark.
    const fs::path desktop = prefix / "share/applications" / (id + ".desktop");
    const fs::path metainfo = prefix / "share/metainfo" / (id + ".metainfo.xml");
    const std::string entry = ReadFile(desktop);
    EXPECT_NE(entry.find("\nExec=gridscope\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon=" + id + "\n"), std::string::npos) << entry;
    const Result desktopCheck = Shell("desktop-file-validate " + Quote(desktop));
    EXPECT_EQ(desktopCheck.status, 0) << desktopCheck.output;
    EXPECT_EQ(desktopCheck.output, "");
    const std::string meta = ReadFile(metainfo);
    EXPECT_NE(meta.find("<release version=\"" GRIDSCOPE_VERSION "\""), std::string::npos);
    EXPECT_NE(meta.find("<launchable type=\"desktop-id\">" + id + ".desktop</launchable>"), std::string::npos);
    const Result metaCheck = Shell("appstreamcli validate --no-net " + Quote(metainfo));
    EXPECT_EQ(metaCheck.status, 0) << metaCheck.output;
    EXPECT_NE(metaCheck.output.find("Validation was successful"), std::string::npos) << metaCheck.output;
    for (const char* remark : {"E:", "W:", "I:"})
        EXPECT_EQ(metaCheck.output.find(remark), std::string::npos) << metaCheck.output;

    // The package's documents, the changelog of this version compressed, and
    // a manual page for each command, which man renders without a warning
    // (as lintian asks it to); a tool's page names every option its --help
    // lists.
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/doc/gridscope/copyright"));
    for (const std::string command : {"gridscope", "gridscope-hub", "gridscope-live", "gridscope-raceserver",
                                      "gridscope-record", "gridscope-relay"}) {
        const fs::path file = prefix / "share/man/man1" / (command + ".1.gz");
        const Result page = Shell("gzip -dc " + Quote(file));
        EXPECT_EQ(page.status, 0) << command;
        EXPECT_NE(page.output.find("\n" + command + " \\-"), std::string::npos) << page.output;
        const Result warnings = Shell("LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z " +
                                      Quote(file) + " >/dev/null");
        EXPECT_EQ(warnings.status, 0) << command << warnings.output;
        EXPECT_EQ(warnings.output, "") << command;
        if (command != "gridscope-hub" && command != "gridscope-live" && command != "gridscope-record")
            continue;  // the others' pages refer to --help for the list
        const std::string help = Shell(Quote(prefix / "bin" / command) + " --help").output;
        const std::regex option("--[a-z][a-z-]*");
        int options = 0;
        for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it, ++options)
            EXPECT_NE(page.output.find(std::regex_replace(it->str(), std::regex("-"), "\\-")), std::string::npos)
                << command << " " << it->str();
        EXPECT_GE(options, 5) << command << help;
    }
    const Result changelog = Shell("gzip -dc " + Quote(prefix / "share/doc/gridscope/changelog.gz"));
    EXPECT_EQ(changelog.output.rfind("gridscope (" GRIDSCOPE_VERSION ")", 0), 0u) << changelog.output;
}

// The hub as a service: the unit (its own dynamic user and state folder, the
// installed command, the config that systemd hands it from /etc, installed
// and not enabled), the config as root's own file beside its example, and
// the unit as systemd itself reads it.
TEST_F(Installed, HubServiceUnitAndConfigAsSystemdReadsThem) {
    const std::string unit = ReadFile(prefix / "lib/systemd/system/gridscope-hub.service");
    using Values = std::vector<std::string>;
    auto values = [&](const std::string& key) {
        Values found;
        std::istringstream lines(unit);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(key + "=", 0) == 0) found.push_back(line.substr(key.size() + 1));
        return found;
    };
    EXPECT_EQ(values("DynamicUser"), Values{"yes"});
    EXPECT_EQ(values("StateDirectory"), Values{"gridscope-hub"});
    EXPECT_EQ(values("LoadCredential"), Values{"hub.ini:/etc/gridscope/hub.ini"});
    EXPECT_EQ(values("ExecStart"), Values{"/usr/bin/gridscope-hub --config %d/hub.ini --data /var/lib/gridscope-hub"});
    EXPECT_EQ(values("ProtectSystem"), Values{"strict"});
    EXPECT_EQ(values("WantedBy"), Values{"multi-user.target"});
    EXPECT_EQ(access((prefix / "bin/gridscope-hub").c_str(), X_OK), 0);
    EXPECT_FALSE(fs::exists(prefix / "etc/systemd")) << "installed, not enabled";

    // Under any other prefix than /usr the config stays in the prefix's own
    // etc/: nothing lands outside it.
    const fs::path config = prefix / "etc/gridscope/hub.ini";
    EXPECT_EQ(fs::status(config).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadFile(config), ReadFile(prefix / "share/doc/gridscope/examples/hub.ini"));
    EXPECT_EQ(Names(root), (std::vector<std::string>{"home with space", "prefix"}));

    // The installed hub takes the example as it is (with the folders of
    // this installation): it watches the demo server and a SIGTERM ends it
    // cleanly. A mistake in the config ends it with status 2, which the unit
    // does not retry, and the file and line.
    const fs::path data = root / "hub data";
    {
        test::ChildProcess hub({(prefix / "bin/gridscope-hub").string(), "--config", config.string(), "--http",
                                "127.0.0.1:0", "--data", data.string(), "--files", Data().string()});
        ASSERT_TRUE(hub.WaitFor("dashboard:", 10000)) << hub.Output();
        const Result servers = Shell("python3 -c 'import sys, urllib.request; "
                                     "sys.stdout.write(urllib.request.urlopen(sys.argv[1]).read().decode())' "
                                     "http://127.0.0.1:" + std::to_string(hub.ListeningPort()) + "/api/servers");
        const QJsonArray list = QJsonDocument::fromJson(QByteArray::fromStdString(servers.output)).array();
        ASSERT_EQ(list.size(), 1) << servers.output;
        EXPECT_EQ(list[0]["key"].toString(), "demo");
        EXPECT_EQ(list[0]["address"].toString(), "127.0.0.1:29999");
        EXPECT_EQ(hub.Stop(), 0) << hub.Output();
        EXPECT_TRUE(fs::is_regular_file(data / "hub.sqlite"));
    }
    const std::string example = ReadFile(config);
    WriteFile(root / "mistake.ini", example + "colour = red\n");
    const Result refused = Shell(Quote(prefix / "bin/gridscope-hub") + " --config " + Quote(root / "mistake.ini"));
    EXPECT_EQ(refused.status, 2);
    const auto lines = std::count(example.begin(), example.end(), '\n');
    EXPECT_NE(refused.output.find((root / "mistake.ini").string() + ":" + std::to_string(lines + 1) +
                                  ": unknown key \"colour\""),
              std::string::npos)
        << refused.output;

    // The prefix /usr, staged with DESTDIR as a Debian build does: the
    // config in the /etc beside it.
    const fs::path staged = root / "staged";
    const Result install = Shell("DESTDIR=" + Quote(staged) + " " + Quote(GRIDSCOPE_CMAKE) + " --install " +
                                 Quote(GRIDSCOPE_BUILD_DIR) + " --prefix /usr");
    ASSERT_EQ(install.status, 0) << install.output;
    EXPECT_EQ(Names(staged), (std::vector<std::string>{"etc", "usr"}));
    EXPECT_EQ(ReadFile(staged / "etc/gridscope/hub.ini"), ReadFile(config));
    EXPECT_EQ(fs::status(staged / "etc/gridscope/hub.ini").permissions(), fs::status(config).permissions());

    // systemd's own check of the unit in that root (with the system's units
    // beside it for the targets it names): the command is there, every
    // setting is known and valid.
    const fs::path units = staged / "usr/lib/systemd/system";
    ASSERT_EQ(Shell("cp -an /usr/lib/systemd/system/. " + Quote(units)).status, 0);
    const Result verify = Shell("systemd-analyze verify --man=no --root=" + Quote(staged) + " " +
                                Quote(units / "gridscope-hub.service"));
    EXPECT_EQ(verify.status, 0) << verify.output;
    EXPECT_EQ(verify.output, "");
}

// The installed launcher in front of a stand-in program that prints the
// folder it was started in and exits: a copy of the prefix's bin/ and a
// link to its share/, so the launcher sees an installation of its own.
class Launcher : public Installed {
protected:
    fs::path stub;

    void SetUp() override {
        Installed::SetUp();
        if (HasFatalFailure()) return;
        stub = MakeStub("stub", GRIDSCOPE_VERSION, prefix / "share");
    }

    fs::path MakeStub(const std::string& name, const std::string& version, const fs::path& share) {
        const fs::path at = root / name;
        fs::create_directories(at / "bin");
        fs::create_directories(at / "lib/gridscope");
        std::string launcher = ReadFile(prefix / "bin/gridscope");
        const std::string shipped = "version='" GRIDSCOPE_VERSION "'";
        const auto v = launcher.find(shipped);
        EXPECT_NE(v, std::string::npos);
        if (v != std::string::npos) launcher.replace(v, shipped.size(), "version='" + version + "'");
        WriteFile(at / "bin/gridscope", launcher);
        WriteFile(at / "lib/gridscope/Gridscope", "#!/bin/sh\nprintf 'started in %s\\n' \"$PWD\"\n");
        fs::permissions(at / "bin/gridscope", fs::perms::owner_all, fs::perm_options::add);
        fs::permissions(at / "lib/gridscope/Gridscope", fs::perms::owner_all, fs::perm_options::add);
        fs::create_directory_symlink(share, at / "share");
        return at;
    }
    Result Launch(const fs::path& installation, const std::string& env, const std::string& args = "") {
        return Shell(env + " " + Quote(installation / "bin/gridscope") + (args.empty() ? "" : " " + args));
    }
    // The shipped files that the run folder's `sub` links to, by name.
    std::map<std::string, fs::path> Links(const std::string& sub = "files") {
        std::map<std::string, fs::path> links;
        for (const auto& entry : fs::directory_iterator(RunFolder() / sub))
            if (entry.is_symlink()) links[entry.path().filename().string()] = fs::read_symlink(entry.path());
        return links;
    }
};

TEST_F(Launcher, AnswersHelpAndVersionRefusesOtherArgumentsAndFindsTheFolder) {
    const Result help = Launch(stub, UserEnv(), "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("Usage: gridscope [--help | --version]"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("\n  " + RunFolder().string() + "\n"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("files/"), std::string::npos);
    EXPECT_FALSE(fs::exists(RunFolder())) << "--help makes nothing";

    const Result version = Launch(stub, UserEnv(), "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "gridscope " GRIDSCOPE_VERSION "\n");

    const Result wrong = Launch(stub, UserEnv(), "--server 127.0.0.1");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.output, "gridscope: unknown argument '--server' (gridscope takes none; see gridscope --help)\n");

    // XDG_DATA_HOME when it is an absolute path; a relative one is ignored.
    const fs::path xdg = root / "data home";
    const Result there = Launch(stub, "HOME=" + Quote(home) + " XDG_DATA_HOME=" + Quote(xdg));
    EXPECT_EQ(there.status, 0) << there.output;
    EXPECT_EQ(there.output, "started in " + (xdg / "gridscope").string() + "\n");
    const Result relative = Launch(stub, "HOME=" + Quote(home) + " XDG_DATA_HOME=relative/data");
    EXPECT_EQ(relative.output, "started in " + RunFolder().string() + "\n");

    // A folder that cannot be made: a clear message and a failure status.
    WriteFile(root / "a file", "");
    const Result blocked = Launch(stub, "HOME=" + Quote(home) + " XDG_DATA_HOME=" + Quote(root / "a file"));
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.output.find("gridscope: cannot make the run folder " + (root / "a file/gridscope").string()),
              std::string::npos)
        << blocked.output;
    EXPECT_EQ(blocked.output.find("started in"), std::string::npos);
    const Result homeless = Launch(stub, "env -u XDG_DATA_HOME -u HOME");
    EXPECT_EQ(homeless.status, 1);
    EXPECT_NE(homeless.output.find("gridscope: HOME is not set"), std::string::npos) << homeless.output;
}

TEST_F(Launcher, LinksTheShippedFilesKeepsTheUsersOwnAndFollowsUpgrades) {
    // The user's own files are there before the first start: a path file,
    // a mesh linked from elsewhere, the settings.
    fs::create_directories(RunFolder() / "files");
    WriteFile(RunFolder() / "files/AS1.pth", "mine");
    WriteFile(root / "elsewhere.smx", "my mesh");
    fs::create_symlink(root / "elsewhere.smx", RunFolder() / "files/Aston_3DH.smx");
    WriteFile(RunFolder() / "Gridscope.ini", "settings\n");

    const Result first = Launch(stub, UserEnv());
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_EQ(first.output, "started in " + RunFolder().string() + "\n");
    // Every other shipped file is linked; the user's stay as they were.
    std::map<std::string, fs::path> links = Links();
    for (const auto& name : Names(Data() / "files")) {
        if (name == "AS1.pth" || name == "Aston_3DH.smx") continue;
        EXPECT_EQ(links[name], stub / "share/gridscope/files" / name) << name;
        EXPECT_EQ(ReadFile(RunFolder() / "files" / name), ReadFile(Data() / "files" / name)) << name;
    }
    EXPECT_TRUE(ReadFile(RunFolder() / "files/AS1.pth") == "mine") << "the user's own path file is kept";
    EXPECT_EQ(fs::read_symlink(RunFolder() / "files/Aston_3DH.smx"), root / "elsewhere.smx");
    for (const auto& name : Names(Data())) EXPECT_TRUE(name == "files" || fs::is_symlink(RunFolder() / name)) << name;
    EXPECT_EQ(ReadFile(RunFolder() / "Gridscope.ini"), "settings\n");

    // A later version in another place, which ships a new track and no
    // longer one of the old ones.
    const fs::path shared2 = root / "share2";
    fs::create_directories(shared2 / "gridscope/files");
    for (const auto& name : Names(Data()))
        if (name != "files") fs::create_symlink(Data() / name, shared2 / "gridscope" / name);
    for (const auto& name : Names(Data() / "files"))
        if (name != "WE3r.pth") fs::copy_file(Data() / "files" / name, shared2 / "gridscope/files" / name);
    WriteFile(shared2 / "gridscope/files/ZZ1.pth", "new track");
    const fs::path upgrade = MakeStub("upgrade", "9.0", shared2);
    ASSERT_EQ(Launch(upgrade, UserEnv()).status, 0);
    links = Links();
    EXPECT_EQ(links.count("WE3r.pth"), 0u);
    EXPECT_EQ(links["ZZ1.pth"], upgrade / "share/gridscope/files/ZZ1.pth");
    EXPECT_EQ(links["BL1.pth"], upgrade / "share/gridscope/files/BL1.pth");
    EXPECT_EQ(Links(".")["hud_bar.bmp"], upgrade / "share/gridscope/hud_bar.bmp");
    EXPECT_TRUE(ReadFile(RunFolder() / "files/AS1.pth") == "mine") << "the user's own path file is kept";
    EXPECT_EQ(fs::read_symlink(RunFolder() / "files/Aston_3DH.smx"), root / "elsewhere.smx");
    EXPECT_EQ(ReadFile(RunFolder() / "Gridscope.ini"), "settings\n");

    // The next version in the same place drops that track again: its link goes.
    fs::remove(shared2 / "gridscope/files/ZZ1.pth");
    const fs::path again = MakeStub("again", "9.1", shared2);
    fs::remove_all(upgrade / "bin");
    fs::rename(again / "bin", upgrade / "bin");
    ASSERT_EQ(Launch(upgrade, UserEnv()).status, 0);
    EXPECT_FALSE(fs::exists(RunFolder() / "files/ZZ1.pth") || fs::is_symlink(RunFolder() / "files/ZZ1.pth"));
    EXPECT_EQ(Links()["BL1.pth"], upgrade / "share/gridscope/files/BL1.pth");
}

TEST_F(Launcher, TwoLaunchesAtOnceBothStartInAWholeFolder) {
    std::string both;
    for (int k = 0; k < 4; ++k)
        both += UserEnv() + " " + Quote(stub / "bin/gridscope") + " > " + Quote(root / ("out" + std::to_string(k))) +
                " 2>&1 & ";
    ASSERT_EQ(Shell(both + "wait").status, 0);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(ReadFile(root / ("out" + std::to_string(k))), "started in " + RunFolder().string() + "\n") << k;
    EXPECT_EQ(Links().size(), Names(Data() / "files").size());
    for (const auto& name : Names(RunFolder())) EXPECT_EQ(name.find(".shipped."), std::string::npos) << name;
}

// The real program under the test's X server, started as the menu would:
// the Exec line of the installed desktop entry, found on PATH.
class InstalledProgram : public Installed {
protected:
    std::unique_ptr<test::ChildProcess> program;
    std::string window;

    std::string Sh(const std::string& command) {
        std::string out = Shell(command).output;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    // Starts a program and waits for its main window, the largest window of
    // its process, then for its first frames.
    void Start(std::vector<std::string> argv, const std::string& cwd = "") {
        window.clear();
        program = std::make_unique<test::ChildProcess>(std::move(argv), cwd);
        for (int tries = 0; tries < 150 && window.empty(); ++tries) {
            Sleep(100);
            std::istringstream ids(Sh("xdotool search --onlyvisible --pid " + std::to_string(program->Pid())));
            std::string id;
            int best = 0;
            while (ids >> id) {
                const std::string size = Sh("xdotool getwindowgeometry " + id + " | sed -n 's/.*Geometry: //p'");
                const int area = std::atoi(size.c_str()) * std::atoi(size.substr(size.find('x') + 1).c_str());
                if (area > best) {
                    best = area;
                    window = id;
                }
            }
        }
        ASSERT_FALSE(window.empty()) << "no window appeared: " << program->Output();
        Sleep(1000);
    }
    void StartFromMenu() {
        std::string exec;
        std::istringstream entry(
            ReadFile(prefix / "share/applications" / (std::string(GRIDSCOPE_APP_ID) + ".desktop")));
        for (std::string line; std::getline(entry, line);)
            if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
        ASSERT_EQ(exec, "gridscope");
        Start({"/usr/bin/env", "-u", "XDG_DATA_HOME", "HOME=" + home.string(),
               "PATH=" + (prefix / "bin").string() + ":/usr/bin:/bin", exec});
    }
    QImage Screenshot(const std::string& name) {
        const fs::path file = root / (name + ".png");
        Sh("import -window " + window + " " + Quote(file));
        return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB888);
    }
    // Clicks Exit, the last of the toolbar's five buttons, and waits.
    int Exit() {
        const int x = static_cast<int>(792 / 28 + 4.5 * 792 * 5.0 / 27), y = 572 * 14 / 445;
        Sh("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
           " sleep 0.2 click 1");
        return program->Wait(5000);
    }
};

int Differing(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

TEST_F(InstalledProgram, FromTheMenuShowsTheShippedTrackAndKeepsItsSettingsInTheUsersFolder) {
    Shell("chmod -R a-w " + Quote(prefix));  // a read-only installation
    const auto before = Snapshot(prefix);

    // The reference: the built program in a run folder made of the build's.
    const fs::path reference = root / "reference";
    fs::create_directories(reference);
    fs::create_directory_symlink(fs::path(GRIDSCOPE_RUN_DIR) / "files", reference / "files");
    for (const auto& name : Names(GRIDSCOPE_RUN_DIR))
        if (fs::path(name).extension() == ".bmp") fs::copy_file(fs::path(GRIDSCOPE_RUN_DIR) / name, reference / name);
    Start({GRIDSCOPE_PROGRAM}, reference.string());
    const QImage expected = Screenshot("reference");
    ASSERT_EQ(Exit(), 0);

    StartFromMenu();
    if (HasFatalFailure()) return;
    EXPECT_EQ(Sh("xdotool getwindowname " + window), "Gridscope");
    const QImage first = Screenshot("first");
    ASSERT_EQ(first.size(), QSize(792, 572));
    ASSERT_EQ(first.size(), expected.size());
    // The shipped track, drawn: a picture of many colours, the same as the
    // built program draws from the build's run folder.
    std::set<QRgb> colours;
    for (int y = 0; y < first.height(); y += 4)
        for (int x = 0; x < first.width(); x += 4) colours.insert(first.pixel(x, y));
    EXPECT_GT(colours.size(), 500u);
    EXPECT_LT(Differing(first, expected), first.width() * first.height() / 100);

    ASSERT_EQ(Exit(), 0);
    const fs::path ini = RunFolder() / "Gridscope.ini";
    ASSERT_TRUE(fs::is_regular_file(ini));
    EXPECT_EQ(Snapshot(prefix), before) << "nothing is written under the prefix";

    // The user's settings, as the dialog would leave them: the second start
    // reads them (the program writes back at exit what it read).
    const std::string settings = "race.example\n30123\npass word\n0\n1\n1\n0\n0\n25\n20\n";
    WriteFile(ini, settings);
    StartFromMenu();
    if (HasFatalFailure()) return;
    ASSERT_EQ(Exit(), 0);
    EXPECT_EQ(ReadFile(ini), settings);
    EXPECT_EQ(Snapshot(prefix), before);
}

TEST_F(InstalledProgram, AMeshInTheUsersFilesIsTheOneLoaded) {
    // A mesh of the user's for the default track: one magenta square of 600
    // world units around the origin, far larger than the view, written byte
    // by byte. Coordinates are little-endian signed 32-bit counts of
    // 1/65536 m (a world unit is 327680 of them): 0xFA240000 is -300 units,
    // 0x05DC0000 is +300, the radius 0x084DF0A2 a little over 300 * sqrt 2.
    std::vector<std::uint8_t> mesh = {'L', 'F', 'S', 'S', 'M', 'X', 0, 0, 0, 3, 0, 1};
    mesh.resize(60, 0);
    mesh.insert(mesh.end(), {1, 0, 0, 0});                                      // one object
    mesh.insert(mesh.end(), {0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0,    // centre
                             0xA2, 0xF0, 0x4D, 0x08, 4, 0, 0, 0, 2, 0, 0, 0});  // radius, points, triangles
    const std::uint8_t minus[] = {0, 0, 0x24, 0xFA}, plus[] = {0, 0, 0xDC, 0x05};
    for (const auto& [x, y] : {std::pair{minus, minus}, {plus, minus}, {plus, plus}, {minus, plus}}) {
        mesh.insert(mesh.end(), x, x + 4);
        mesh.insert(mesh.end(), y, y + 4);
        mesh.insert(mesh.end(), {0, 0, 0, 0, /* blue, green, red, alpha */ 255, 0, 255, 0xFF});
    }
    mesh.insert(mesh.end(), {0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 2, 0, 3, 0, 0, 0});
    fs::create_directories(RunFolder() / "files");
    const fs::path mine = RunFolder() / "files/Aston_3DH.smx";
    test::WriteAll(mine.string(), mesh);
    const std::string bytes = ReadFile(mine);

    StartFromMenu();
    if (HasFatalFailure()) return;
    const QImage frame = Screenshot("mine");
    // The lower half of the view, below the panels, is the user's plane.
    int magentaPixels = 0, all = 0;
    for (int y = 300; y < 560; y += 4)
        for (int x = 0; x < 792; x += 4, ++all) {
            const QRgb p = frame.pixel(x, y);
            magentaPixels += qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) > 200;
        }
    EXPECT_GT(magentaPixels, all * 9 / 10);
    ASSERT_EQ(Exit(), 0);
    EXPECT_FALSE(fs::is_symlink(mine));
    EXPECT_EQ(ReadFile(mine), bytes);
}

}  // namespace
}  // namespace gs
