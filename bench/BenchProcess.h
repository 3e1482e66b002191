// What the benchmarks that run a tool as a process measure of it, and how
// they sum up latencies.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace gs::bench {

// The value below which a fraction `p` of the samples lie (nearest rank).
inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto k = static_cast<std::size_t>(p * double(v.size() - 1) + 0.5);
    return v[std::min(k, v.size() - 1)];
}

// utime + stime of a process, in seconds.
inline double CpuSeconds(long long pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(f)), {});
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// A line of /proc/PID/status ("VmRSS:", "VmHWM:") in MB.
inline double MemoryMb(long long pid, const char* key) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(key, 0) == 0) return std::stod(line.substr(std::strlen(key) + 1)) / 1024.0;
    return 0;
}

}  // namespace gs::bench
