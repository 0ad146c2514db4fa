// A scratch machine for the product's programs: MW_ROOT, a home, no
// elevation and no real boxes; the store and the tree read back by tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/registry.hpp"
#include "support/env_guard.hpp"
#include "support/test_env.hpp"
#include "support/tree_snapshot.hpp"

namespace producttest {

class ScratchMachine {
public:
    ScratchMachine() {
        mwtest::PrepareSharedMachineRoot(dir_);
        env_.Set("MW_ROOT", dir_.path());
        env_.Set("HOME", dir_ / "home");
        env_.Set("XDG_DATA_HOME", std::nullopt);
        env_.Set("MW_NO_ELEVATION", "1");
        env_.Set("MW_HEADLESS", "1");
        env_.Set("SUDO_UID", std::nullopt);
        env_.Set("PKEXEC_UID", std::nullopt);
        std::filesystem::create_directories(dir_ / "home");
        std::filesystem::create_directories(dir_ / "var/lib/mw");
    }

    const std::string& root() const { return dir_.path(); }
    std::string operator/(const std::string& rel) const { return dir_ / rel; }

    // The store as the programs see it (opened anew, so it shows their writes).
    std::unique_ptr<mw::platform::Registry> Store() const {
        std::error_code ec;
        std::filesystem::create_directories(dir_ / "var/lib/mw");
        auto store = mw::platform::OpenRegistryAt(dir_ / "var/lib/mw/registry.db", ec);
        if (!store) ADD_FAILURE() << "no store: " << ec.message();
        return store;
    }
    std::optional<std::string> Text(const std::string& key, const std::string& name) const {
        std::error_code ec;
        auto store = Store();
        if (!store) return std::nullopt;
        auto value = store->GetValue(key, name, ec);
        return value ? value->Text() : std::nullopt;
    }
    bool KeyExists(const std::string& key) const {
        std::error_code ec;
        auto store = Store();
        return store && store->KeyExists(key, ec);
    }

    // The tree without what only the machinery of locks and the store keep.
    mwtest::TreeSnapshot Snapshot() const {
        mwtest::TreeSnapshot tree = mwtest::SnapshotTree(dir_.path());
        std::erase_if(tree, [](const auto& item) {
            return item.first.rfind("run", 0) == 0 || item.first.rfind("var/lib", 0) == 0 ||
                   item.first == "var";
        });
        return tree;
    }

    // Copies a built program to `rel` (folders made on the way).
    std::string Install(const std::string& program, const std::string& rel) const {
        const std::string to = dir_ / rel;
        std::filesystem::create_directories(std::filesystem::path(to).parent_path());
        std::filesystem::copy_file(mwtest::BinPath(program), to,
                                   std::filesystem::copy_options::overwrite_existing);
        ::chmod(to.c_str(), 0755);
        return to;
    }

private:
    mwtest::ScratchDir dir_;
    mwtest::EnvGuard env_;
};

}  // namespace producttest
