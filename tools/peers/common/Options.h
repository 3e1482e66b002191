// Command-line option reading shared by the peers: "--name value" or "--name=value",
// repeated options kept in order, with clear errors for unknown or malformed ones.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace gs::peers {

class Options {
public:
    // `known` lists the option names (without "--"); `flags` those that take no
    // value. Throws std::runtime_error on an unknown option or a missing value.
    Options(int argc, const char* const* argv, const std::set<std::string>& known,
            const std::set<std::string>& flags = {});

    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    std::string Text(const std::string& name, const std::string& fallback) const;
    std::vector<std::string> All(const std::string& name) const;
    // Whole-number option within [low, high]; throws with the option's name otherwise.
    long Integer(const std::string& name, long fallback, long low, long high) const;
    double Number(const std::string& name, double fallback, double low, double high) const;

private:
    std::map<std::string, std::vector<std::string>> values_;
};

}  // namespace gs::peers
