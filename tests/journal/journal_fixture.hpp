// Shared set-up of the journal tests: a scratch tree, a private temporary
// folder ($TMPDIR) inside it and a registry in memory.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "journal/journal.hpp"
#include "platform/registry.hpp"
#include "platform/roots.hpp"
#include "platform/testing/faulty_file_system.hpp"
#include "platform/testing/registry_fake.hpp"
#include "support/test_env.hpp"

namespace mwtest {

inline std::optional<std::string> GetEnv(const char* name) {
    const char* v = getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
}

inline void RestoreEnv(const char* name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

// Two file systems: with `split`, a rename between the temporary folder and
// anywhere else fails as it does across devices.
class TwoDevices : public mw::platform::FaultyFileSystem {
public:
    TwoDevices(mw::platform::FileSystem& inner, std::string tmp, bool split = true)
        : FaultyFileSystem(inner), tmp_(std::move(tmp)), split_(split) {}
    std::error_code Rename(const std::string& from, const std::string& to) override {
        if (split_ && from.starts_with(tmp_ + "/") != to.starts_with(tmp_ + "/")) {
            ++crossings;
            return std::make_error_code(std::errc::cross_device_link);
        }
        return FaultyFileSystem::Rename(from, to);
    }
    int crossings = 0;

private:
    std::string tmp_;
    bool split_;
};

// Lets an attacker act right before the first SetMode or CopyMetadata that
// reaches it, in the window between a caller's check and its change.
class SwapBefore : public mw::platform::FaultyFileSystem {
public:
    SwapBefore(mw::platform::FileSystem& inner, std::function<void()> attack)
        : FaultyFileSystem(inner), attack_(std::move(attack)) {}
    std::error_code SetMode(const std::string& path, uint32_t mode) override {
        Attack();
        return FaultyFileSystem::SetMode(path, mode);
    }
    std::error_code CopyMetadata(const std::string& from, const std::string& to) override {
        Attack();
        return FaultyFileSystem::CopyMetadata(from, to);
    }
    bool attacked() const { return !attack_; }

private:
    void Attack() {
        if (!attack_) return;
        auto attack = std::move(attack_);
        attack_ = nullptr;
        attack();
    }
    std::function<void()> attack_;
};

// Runs `body` in a child process that has become nobody; its exit code.
inline int AsNobody(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0)
            _exit(99);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class JournalFixture : public ::testing::Test {
protected:
    void SetUp() override {
        oldTmp_ = GetEnv("TMPDIR");
        tmp = scratch / "tmp";
        root = scratch / "root";
        std::filesystem::create_directories(tmp);
        std::filesystem::create_directories(root);
        setenv("TMPDIR", tmp.c_str(), 1);
        mw::platform::ResetRootsForTesting();
        registry = mw::platform::MakeFakeRegistry();
        mw::platform::SetMachineRegistryForTesting(registry.get());
    }
    void TearDown() override {
        mw::platform::SetMachineRegistryForTesting(nullptr);
        RestoreEnv("TMPDIR", oldTmp_);
        mw::platform::ResetRootsForTesting();
    }

    // Items left in the temporary folder (backups that were not disposed of).
    std::size_t TempItems() const {
        std::size_t n = 0;
        for (auto it = std::filesystem::recursive_directory_iterator(tmp);
             it != std::filesystem::recursive_directory_iterator(); ++it) {
            ++n;
        }
        return n;
    }

    std::string ListTemp() const {
        std::string out;
        for (auto it = std::filesystem::recursive_directory_iterator(tmp);
             it != std::filesystem::recursive_directory_iterator(); ++it) {
            out += it->path().string() + "\n";
        }
        return out;
    }

    static mode_t ModeOf(const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    ScratchDir scratch;
    std::string tmp;
    std::string root;
    std::unique_ptr<mw::platform::Registry> registry;
    mw::InstallJournal journal{"Arbolux 7", "Arbolux 7.13c"};

private:
    std::optional<std::string> oldTmp_;
};

}  // namespace mwtest
