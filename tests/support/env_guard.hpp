// Sets environment variables for the lifetime of a scope and restores the
// previous values (or their absence) afterwards.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mwtest {

class EnvGuard {
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
    }

    // nullopt unsets the variable.
    void Set(const std::string& name, std::optional<std::string> value) {
        const char* old = ::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

    // Clears every variable that decides the user's language, then sets LANG.
    void SetUserLanguage(const std::string& lang) {
        for (const char* v : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) Set(v, std::nullopt);
        Set("LANG", lang);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace mwtest
