// The in-memory registry of unit tests. It follows the same rules as the
// SQLite store (shared through registry_detail), including the saved-key
// files, which it writes and reads for real.
#include "platform/testing/registry_fake.hpp"

#include <map>
#include <mutex>

#include "platform/case_fold.hpp"
#include "platform/os_error.hpp"
#include "platform/registry.hpp"
#include "platform/registry_detail.hpp"

namespace mw::platform {
namespace {


struct Node {
    struct Value {
        std::string name;
        RegValue value;
    };
    std::string name;
    std::map<std::string, Value> values;                   // by folded name
    std::map<std::string, std::unique_ptr<Node>> subkeys;  // by folded name
};

std::error_code NotFound() {
    return OsError(std::errc::no_such_file_or_directory);
}

regdetail::KeySnapshot Snapshot(const Node& node) {
    regdetail::KeySnapshot s;
    for (const auto& [fold, v] : node.values) s.values.push_back({v.name, v.value});
    for (const auto& [fold, sub] : node.subkeys) s.subkeys.push_back({sub->name, Snapshot(*sub)});
    return s;
}

void Fill(Node& node, const regdetail::KeySnapshot& s) {
    node.values.clear();
    node.subkeys.clear();
    for (const auto& v : s.values) node.values[FoldRegistryName(v.name)] = {v.name, v.value};
    for (const auto& sub : s.subkeys) {
        auto child = std::make_unique<Node>();
        child->name = sub.name;
        Fill(*child, sub.content);
        node.subkeys[FoldRegistryName(sub.name)] = std::move(child);
    }
}

int Depth(const regdetail::KeySnapshot& s) {
    int d = 0;
    for (const auto& sub : s.subkeys) d = std::max(d, 1 + Depth(sub.content));
    return d;
}

class FakeRegistry final : public Registry {
public:
    bool KeyExists(std::string_view key, std::error_code& ec) override {
        std::lock_guard lock(mutex_);
        Node* n = Find(key, ec);
        if (ec == NotFound()) ec.clear();
        return n != nullptr;
    }

    std::error_code CreateKey(std::string_view key) override {
        std::lock_guard lock(mutex_);
        std::vector<std::string> levels;
        if (auto ec = regdetail::SplitKeyPath(key, levels)) return ec;
        if (levels.size() > regdetail::kMaxDepth) return OsError(std::errc::invalid_argument);
        Node* n = &root_;
        for (const auto& level : levels) {
            auto& slot = n->subkeys[FoldRegistryName(level)];
            if (!slot) {
                slot = std::make_unique<Node>();
                slot->name = level;
            }
            n = slot.get();
        }
        return {};
    }

    std::optional<RegValue> GetValue(std::string_view key, std::string_view name,
                                     std::error_code& ec) override {
        std::lock_guard lock(mutex_);
        if ((ec = regdetail::CheckValueName(name))) return std::nullopt;
        Node* n = Find(key, ec);
        if (!n) {
            if (ec == NotFound()) ec.clear();
            return std::nullopt;
        }
        auto it = n->values.find(FoldRegistryName(name));
        if (it == n->values.end()) return std::nullopt;
        return it->second.value;
    }

    std::error_code SetValue(std::string_view key, std::string_view name,
                             const RegValue& value) override {
        std::lock_guard lock(mutex_);
        std::error_code ec = regdetail::CheckValueName(name);
        if (ec) return ec;
        Node* n = Find(key, ec);
        if (!n) return ec;
        Put(*n, name, value);
        return {};
    }

    std::error_code DeleteValue(std::string_view key, std::string_view name) override {
        std::lock_guard lock(mutex_);
        std::error_code ec = regdetail::CheckValueName(name);
        if (ec) return ec;
        Node* n = Find(key, ec);
        if (!n) return ec;
        return n->values.erase(FoldRegistryName(name)) ? std::error_code() : NotFound();
    }

    std::error_code DeleteTree(std::string_view key) override {
        std::lock_guard lock(mutex_);
        std::vector<std::string> levels;
        if (auto ec = regdetail::SplitKeyPath(key, levels)) return ec;
        if (levels.empty()) return OsError(std::errc::invalid_argument);
        std::string last = levels.back();
        levels.pop_back();
        Node* parent = Walk(levels);
        if (!parent) return NotFound();
        return parent->subkeys.erase(FoldRegistryName(last)) ? std::error_code() : NotFound();
    }

    std::vector<std::string> SubKeys(std::string_view key, std::error_code& ec) override {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        if (Node* n = Find(key, ec))
            for (const auto& [fold, sub] : n->subkeys) out.push_back(sub->name);
        return out;
    }

    std::vector<std::string> ValueNames(std::string_view key, std::error_code& ec) override {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        if (Node* n = Find(key, ec))
            for (const auto& [fold, v] : n->values) out.push_back(v.name);
        return out;
    }

    std::error_code SaveKey(std::string_view key, const std::string& file) override {
        std::lock_guard lock(mutex_);
        std::error_code ec;
        Node* n = Find(key, ec);
        if (!n) return ec;
        return regdetail::WriteSnapshotFile(file, Snapshot(*n));
    }

    std::error_code RestoreKey(std::string_view key, const std::string& file) override {
        std::lock_guard lock(mutex_);
        std::error_code ec;
        std::vector<std::string> levels;
        Node* n = Find(key, ec, &levels);
        if (!n) return ec;
        regdetail::KeySnapshot s;
        if ((ec = regdetail::ReadSnapshotFile(file, s))) return ec;
        if (levels.size() + Depth(s) > regdetail::kMaxDepth)
            return OsError(std::errc::invalid_argument);
        Fill(*n, s);
        return {};
    }

    std::error_code UpdateValue(std::string_view key, std::string_view name,
                                const ValueUpdate& update) override {
        std::lock_guard lock(mutex_);
        std::error_code ec = regdetail::CheckValueName(name);
        if (ec) return ec;
        Node* n = Find(key, ec);
        if (!n) return ec;
        std::optional<RegValue> current;
        auto it = n->values.find(FoldRegistryName(name));
        if (it != n->values.end()) current = it->second.value;
        if (auto next = update(current)) Put(*n, name, *next);
        return {};
    }

private:
    static void Put(Node& n, std::string_view name, const RegValue& value) {
        auto [it, inserted] = n.values.try_emplace(FoldRegistryName(name));
        if (inserted) it->second.name = std::string(name);
        it->second.value = value;
    }

    Node* Walk(const std::vector<std::string>& levels) {
        Node* n = &root_;
        for (const auto& level : levels) {
            auto it = n->subkeys.find(FoldRegistryName(level));
            if (it == n->subkeys.end()) return nullptr;
            n = it->second.get();
        }
        return n;
    }

    // The key's node, or nullptr with ec set (invalid path or not found).
    Node* Find(std::string_view key, std::error_code& ec,
               std::vector<std::string>* levelsOut = nullptr) {
        std::vector<std::string> levels;
        if ((ec = regdetail::SplitKeyPath(key, levels))) return nullptr;
        Node* n = Walk(levels);
        if (!n)
            ec = NotFound();
        else
            ec.clear();
        if (levelsOut) *levelsOut = std::move(levels);
        return n;
    }

    std::mutex mutex_;
    Node root_;
};

}  // namespace

std::unique_ptr<Registry> MakeFakeRegistry() {
    return std::make_unique<FakeRegistry>();
}

}  // namespace mw::platform
