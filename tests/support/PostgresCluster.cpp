#include "support/PostgresCluster.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/ChildProcess.h"

namespace gs::test {

namespace fs = std::filesystem;

namespace {

std::string PercentEncoded(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

std::string PostgresCluster::FindBinaries() {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error))
        if (fs::exists(entry.path() / "bin" / "initdb") && fs::exists(entry.path() / "bin" / "pg_ctl"))
            found.push_back((entry.path() / "bin").string());
    // Versions are whole numbers: the longest, then greatest, name is newest.
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return found.empty() ? std::string() : found.back();
}

const std::string& PostgresCluster::User() {
    static const std::string user = "gridscope";
    return user;
}

const std::string& PostgresCluster::Password() {
    static const std::string password = "s3cr:t@/%'x y";
    return password;
}

PostgresCluster::PostgresCluster(const std::vector<std::string>& settings) : bin_(FindBinaries()), settings_(settings) {
    if (bin_.empty()) throw std::runtime_error("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)");
    std::string pattern = (fs::temp_directory_path() / "gridscope-pg-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
    scratch_ = pattern;
    data_ = scratch_ + "/data";
    if (geteuid() == 0) {
        const passwd* postgres = getpwnam("postgres");
        if (!postgres || chown(scratch_.c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
            fs::remove_all(scratch_);
            throw std::runtime_error("running as root, but there is no user postgres to run the server as");
        }
    }
    try {
        const std::string pwfile = scratch_ + "/password";
        std::ofstream(pwfile) << Password() << "\n";
        if (geteuid() == 0) {
            const passwd* postgres = getpwnam("postgres");
            if (chown(pwfile.c_str(), postgres->pw_uid, postgres->pw_gid) != 0)
                throw std::runtime_error("cannot hand the password file to postgres");
        }
        Run({bin_ + "/initdb", "-D", data_, "-U", User(), "--pwfile=" + pwfile, "--auth-local=trust",
             "--auth-host=scram-sha-256", "-E", "UTF8", "--no-locale", "--no-sync"},
            120000);
        fs::remove(pwfile);
        // A port found free may be taken before the server binds it: a few
        // tries with fresh ports.
        std::string why;
        for (int attempt = 0; attempt < 3 && port_ == 0; ++attempt) {
            port_ = FreeTcpPort();
            try {
                PgCtl("start");
            } catch (const std::runtime_error& e) {
                why = e.what();
                port_ = 0;
            }
        }
        if (port_ == 0) throw std::runtime_error("the PostgreSQL server did not start: " + why);
    } catch (...) {
        fs::remove_all(scratch_);
        throw;
    }
}

PostgresCluster::~PostgresCluster() {
    try {
        PgCtl("stop");
    } catch (const std::exception&) {
        // Removing the folder below still takes the cluster's files away.
    }
    std::error_code error;
    fs::remove_all(scratch_, error);
}

std::string PostgresCluster::Url(const std::string& database) const {
    return "postgresql://" + PercentEncoded(User()) + ":" + PercentEncoded(Password()) + "@127.0.0.1:" +
           std::to_string(port_) + "/" + PercentEncoded(database);
}

std::string PostgresCluster::Psql(const std::string& database, const std::string& sql) {
    return Run({bin_ + "/psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", scratch_, "-p",
                std::to_string(port_), "-U", User(), "-d", database, "-c", sql},
               60000);
}

void PostgresCluster::Restart() {
    PgCtl("stop");
    PgCtl("start");
}

std::string PostgresCluster::PgCtl(const std::string& action) {
    std::vector<std::string> argv{bin_ + "/pg_ctl", "-D", data_, "-w", "-t", "60", "-l", scratch_ + "/server.log"};
    if (action == "start") {
        std::string options = "-c listen_addresses=127.0.0.1 -p " + std::to_string(port_) + " -k " + scratch_;
        for (const auto& setting : settings_) options += " -c " + setting;
        argv.insert(argv.end(), {"-o", options});
    } else {
        argv.insert(argv.end(), {"-m", "fast"});
    }
    argv.push_back(action);
    return Run(argv, 90000);
}

std::string PostgresCluster::Run(std::vector<std::string> argv, int timeoutMs) {
    if (geteuid() == 0) argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "postgres", "--"});
    const std::string command = argv[geteuid() == 0 ? 4 : 0];
    ChildProcess child(argv, scratch_);
    const int status = child.Wait(timeoutMs);
    if (status != 0) {
        std::string log;
        std::ifstream file(scratch_ + "/server.log");
        if (file) log.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        throw std::runtime_error(command + " failed (" + std::to_string(status) + "): " + child.Output() +
                                 (log.empty() ? "" : "\nserver log:\n" + log));
    }
    return child.Output();
}

}  // namespace gs::test
