// Command-line option reading of the peers.
#include "Options.h"

#include <cmath>
#include <stdexcept>

namespace gs::peers {

Options::Options(int argc, const char* const* argv, const std::set<std::string>& known,
                 const std::set<std::string>& flags) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) throw std::runtime_error("unexpected argument '" + arg + "'");
        arg.erase(0, 2);
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.erase(eq);
            hasValue = true;
        }
        if (!known.count(arg) && !flags.count(arg)) throw std::runtime_error("unknown option --" + arg);
        if (flags.count(arg)) {
            values_[arg].push_back(hasValue ? value : "1");
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= argc) throw std::runtime_error("option --" + arg + " needs a value");
            value = argv[++i];
        }
        values_[arg].push_back(value);
    }
}

std::string Options::Text(const std::string& name, const std::string& fallback) const {
    const auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second.back();
}

std::vector<std::string> Options::All(const std::string& name) const {
    const auto it = values_.find(name);
    return it == values_.end() ? std::vector<std::string>{} : it->second;
}

long Options::Integer(const std::string& name, long fallback, long low, long high) const {
    if (!Has(name)) return fallback;
    const std::string text = Text(name, "");
    std::size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < low || value > high)
        throw std::runtime_error("option --" + name + " needs a whole number from " + std::to_string(low) + " to " +
                                 std::to_string(high) + ", got '" + text + "'");
    return value;
}

double Options::Number(const std::string& name, double fallback, double low, double high) const {
    if (!Has(name)) return fallback;
    const std::string text = Text(name, "");
    std::size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(value) || value < low || value > high)
        throw std::runtime_error("option --" + name + " needs a number from " + std::to_string(low) + " to " +
                                 std::to_string(high) + ", got '" + text + "'");
    return value;
}

}  // namespace gs::peers
