#include "platform/elevation.hpp"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/process.hpp"

extern char** environ;

namespace mw::platform {
namespace {

bool Kept(std::string_view name) {
    static constexpr std::string_view kNames[] = {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY",
                                                  "MW_ROOT", "LANG",       "LANGUAGE"};
    for (auto n : kNames)
        if (name == n) return true;
    return name.size() > 3 && name.substr(0, 3) == "LC_";
}

bool Set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

}  // namespace

bool IsAdministrator() {
    return ::geteuid() == 0;
}

std::vector<std::string> ElevationEnvironment(const std::vector<std::string>& env) {
    std::vector<std::string> out;
    for (const auto& entry : env) {
        size_t eq = entry.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::string_view name(entry.data(), eq);
        if (name == "MW_NO_ELEVATION") continue;
        if (Kept(name)) out.push_back(entry);
    }
    out.push_back("MW_NO_ELEVATION=1");
    return out;
}

std::vector<std::string> ElevationCommand(const std::string& pkexec, const std::string& program,
                                          const std::vector<std::string>& args,
                                          const std::vector<std::string>& env) {
    std::vector<std::string> cmd{pkexec, "env"};
    for (auto& e : ElevationEnvironment(env)) cmd.push_back(std::move(e));
    cmd.push_back(program);
    cmd.insert(cmd.end(), args.begin(), args.end());
    return cmd;
}

std::optional<int> OfferElevation(const std::vector<std::string>& args) {
    if (IsAdministrator()) return std::nullopt;
    const char* off = std::getenv("MW_NO_ELEVATION");
    if (off && *off && std::string_view(off) != "0") return std::nullopt;
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) return std::nullopt;
    std::string pkexec = FindProgram("pkexec");
    if (pkexec.empty()) return std::nullopt;
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return std::nullopt;
    std::string program(self, static_cast<size_t>(n));
    // env would take a path with '=' for a setting, and the program of a
    // deleted file cannot be run again.
    if (program.find('=') != std::string::npos || program[0] != '/' ||
        program.ends_with(" (deleted)"))
        return std::nullopt;
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
    int code = 0;
    if (RunProcess(ElevationCommand(pkexec, program, args, env), code)) return std::nullopt;
    if (code == 126 || code == 127) return std::nullopt;
    return code;
}

}  // namespace mw::platform
