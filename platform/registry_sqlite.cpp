// The machine registry on SQLite. One row per key (parent, name, folded name)
// and one per value (key, name, folded name, type, exact bytes). The store
// uses SQLite's rollback journal rather than WAL: readers then need only read
// access to the file and its folder, which lets every user read a store that
// only root writes. Every operation runs in one transaction; changes take the
// write lock up front (BEGIN IMMEDIATE) so two writers never deadlock on a
// lock upgrade, and a busy store is waited for up to kBusyTimeoutMs.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/case_fold.hpp"
#include "platform/os_error.hpp"
#include "platform/path.hpp"
#include "platform/registry.hpp"
#include "platform/registry_detail.hpp"
#include "platform/roots.hpp"
#include "platform/safe_path.hpp"
#include "platform/trusted_path.hpp"

namespace mw::platform {
namespace {

constexpr int kBusyTimeoutMs = 30000;
constexpr int kSchemaVersion = 1;
constexpr int kApplicationId = 0x4D575247;  // "MWRG"
constexpr int64_t kRootId = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY,
  parent INTEGER,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  UNIQUE(parent, fold));
CREATE TABLE IF NOT EXISTS vals(
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, fold)) WITHOUT ROWID;
INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES(1, NULL, '', '');
)sql";

std::error_code Errc(std::errc e) {
    return OsError(e);
}

std::error_code FromSqlite(sqlite3* db, int rc) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_DONE:
        case SQLITE_ROW:
            return {};
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return Errc(std::errc::device_or_resource_busy);
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return Errc(std::errc::permission_denied);
        case SQLITE_FULL:
            return Errc(std::errc::no_space_on_device);
        case SQLITE_NOMEM:
            return Errc(std::errc::not_enough_memory);
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR: {
            int e = db ? sqlite3_system_errno(db) : 0;
            if (e != 0) return OsError(e);
            return Errc(std::errc::io_error);
        }
        default:
            return Errc(std::errc::io_error);
    }
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int i, int64_t v) {
        if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& Bind(int i, std::string_view text) {
        if (rc_ == SQLITE_OK)
            rc_ = sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()),
                                    SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindBlob(int i, const std::vector<uint8_t>& data) {
        // A zero-length blob, not NULL, for empty data.
        if (rc_ == SQLITE_OK)
            rc_ = data.empty() ? sqlite3_bind_zeroblob(stmt_, i, 0)
                               : sqlite3_bind_blob(stmt_, i, data.data(),
                                                   static_cast<int>(data.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True while a row is there; errors end the loop and stay in error().
    bool Step() {
        if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW) return false;
        rc_ = sqlite3_step(stmt_);
        if (rc_ == SQLITE_ROW) return true;
        if (rc_ == SQLITE_DONE) rc_ = SQLITE_OK;
        return false;
    }
    std::error_code Run() {
        while (Step()) {
        }
        return error();
    }
    std::error_code error() const { return FromSqlite(db_, rc_); }
    int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
    std::string Text(int col) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
                 : std::string();
    }
    std::vector<uint8_t> Blob(int col) {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, col));
        const int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
    }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int rc_;
};

class Transaction {
public:
    Transaction(sqlite3* db, bool write) : db_(db) {
        ec_ = FromSqlite(
            db, sqlite3_exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr));
        open_ = !ec_;
    }
    ~Transaction() {
        if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    std::error_code error() const { return ec_; }
    std::error_code Commit() {
        int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) open_ = false;
        return FromSqlite(db_, rc);
    }

private:
    sqlite3* db_;
    std::error_code ec_;
    bool open_ = false;
};

class SqliteRegistry final : public Registry {
public:
    explicit SqliteRegistry(sqlite3* db) : db_(db) {}
    ~SqliteRegistry() override { sqlite3_close_v2(db_); }

    bool KeyExists(std::string_view key, std::error_code& ec) override {
        std::lock_guard lock(mutex_);
        Transaction t(db_, false);
        if ((ec = t.error())) return false;
        int64_t id = Find(key, ec);
        if (ec == Errc(std::errc::no_such_file_or_directory)) ec.clear();
        return id != 0;
    }

    std::error_code CreateKey(std::string_view key) override {
        std::lock_guard lock(mutex_);
        std::vector<std::string> levels;
        if (auto ec = regdetail::SplitKeyPath(key, levels)) return ec;
        if (levels.size() > regdetail::kMaxDepth) return Errc(std::errc::invalid_argument);
        Transaction t(db_, true);
        if (t.error()) return t.error();
        int64_t id = kRootId;
        for (const auto& level : levels) {
            std::error_code ec;
            int64_t child = Child(id, level, ec);
            if (ec) return ec;
            if (child == 0) {
                if ((ec = InsertKey(id, level, child))) return ec;
            }
            id = child;
        }
        return t.Commit();
    }

    std::optional<RegValue> GetValue(std::string_view key, std::string_view name,
                                     std::error_code& ec) override {
        std::lock_guard lock(mutex_);
        if ((ec = regdetail::CheckValueName(name))) return std::nullopt;
        Transaction t(db_, false);
        if ((ec = t.error())) return std::nullopt;
        int64_t id = Find(key, ec);
        if (id == 0) {
            if (ec == Errc(std::errc::no_such_file_or_directory)) ec.clear();
            return std::nullopt;
        }
        return Value(id, name, ec);
    }

    std::error_code SetValue(std::string_view key, std::string_view name,
                             const RegValue& value) override {
        std::lock_guard lock(mutex_);
        if (auto ec = regdetail::CheckValueName(name)) return ec;
        Transaction t(db_, true);
        if (t.error()) return t.error();
        std::error_code ec;
        int64_t id = Find(key, ec);
        if (id == 0) return ec;
        if ((ec = Put(id, name, value))) return ec;
        return t.Commit();
    }

    std::error_code DeleteValue(std::string_view key, std::string_view name) override {
        std::lock_guard lock(mutex_);
        if (auto ec = regdetail::CheckValueName(name)) return ec;
        Transaction t(db_, true);
        if (t.error()) return t.error();
        std::error_code ec;
        int64_t id = Find(key, ec);
        if (id == 0) return ec;
        Statement s(db_, "DELETE FROM vals WHERE key = ?1 AND fold = ?2");
        if ((ec = s.Bind(1, id).Bind(2, FoldRegistryName(name)).Run())) return ec;
        if (sqlite3_changes(db_) == 0) return Errc(std::errc::no_such_file_or_directory);
        return t.Commit();
    }

    std::error_code DeleteTree(std::string_view key) override {
        std::lock_guard lock(mutex_);
        std::vector<std::string> levels;
        if (auto ec = regdetail::SplitKeyPath(key, levels)) return ec;
        if (levels.empty()) return Errc(std::errc::invalid_argument);
        Transaction t(db_, true);
        if (t.error()) return t.error();
        std::error_code ec;
        int64_t id = Find(key, ec);
        if (id == 0) return ec;
        if ((ec = DeleteBelow(id, true))) return ec;
        return t.Commit();
    }

    std::vector<std::string> SubKeys(std::string_view key, std::error_code& ec) override {
        return Names(key, "SELECT name FROM keys WHERE parent = ?1 ORDER BY fold", ec);
    }

    std::vector<std::string> ValueNames(std::string_view key, std::error_code& ec) override {
        return Names(key, "SELECT name FROM vals WHERE key = ?1 ORDER BY fold", ec);
    }

    std::error_code SaveKey(std::string_view key, const std::string& file) override {
        regdetail::KeySnapshot snapshot;
        {
            std::lock_guard lock(mutex_);
            Transaction t(db_, false);
            if (t.error()) return t.error();
            std::error_code ec;
            int64_t id = Find(key, ec);
            if (id == 0) return ec;
            if ((ec = Snapshot(id, snapshot))) return ec;
        }
        return regdetail::WriteSnapshotFile(file, snapshot);
    }

    std::error_code RestoreKey(std::string_view key, const std::string& file) override {
        std::vector<std::string> levels;
        if (auto ec = regdetail::SplitKeyPath(key, levels)) return ec;
        std::lock_guard lock(mutex_);
        Transaction t(db_, true);
        if (t.error()) return t.error();
        std::error_code ec;
        int64_t id = Find(key, ec);
        if (id == 0) return ec;
        regdetail::KeySnapshot snapshot;
        if ((ec = regdetail::ReadSnapshotFile(file, snapshot))) return ec;
        if (levels.size() + Depth(snapshot) > regdetail::kMaxDepth)
            return Errc(std::errc::invalid_argument);
        if ((ec = DeleteBelow(id, false))) return ec;
        if ((ec = Insert(id, snapshot))) return ec;
        return t.Commit();
    }

    std::error_code UpdateValue(std::string_view key, std::string_view name,
                                const ValueUpdate& update) override {
        std::lock_guard lock(mutex_);
        if (auto ec = regdetail::CheckValueName(name)) return ec;
        Transaction t(db_, true);
        if (t.error()) return t.error();
        std::error_code ec;
        int64_t id = Find(key, ec);
        if (id == 0) return ec;
        std::optional<RegValue> current = Value(id, name, ec);
        if (ec) return ec;
        std::optional<RegValue> next = update(current);
        if (!next) return {};
        if ((ec = Put(id, name, *next))) return ec;
        return t.Commit();
    }

private:
    static int Depth(const regdetail::KeySnapshot& s) {
        int d = 0;
        for (const auto& sub : s.subkeys) d = std::max(d, 1 + Depth(sub.content));
        return d;
    }

    // The child's id, 0 when there is none (ec stays clear).
    int64_t Child(int64_t parent, std::string_view name, std::error_code& ec) {
        Statement s(db_, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
        s.Bind(1, parent).Bind(2, FoldRegistryName(name));
        int64_t id = s.Step() ? s.Int(0) : 0;
        ec = s.error();
        return ec ? 0 : id;
    }

    // The key's id, or 0 with ec set: invalid path, not found, store error.
    int64_t Find(std::string_view key, std::error_code& ec) {
        std::vector<std::string> levels;
        if ((ec = regdetail::SplitKeyPath(key, levels))) return 0;
        int64_t id = kRootId;
        for (const auto& level : levels) {
            id = Child(id, level, ec);
            if (ec) return 0;
            if (id == 0) {
                ec = Errc(std::errc::no_such_file_or_directory);
                return 0;
            }
        }
        ec.clear();
        return id;
    }

    std::error_code InsertKey(int64_t parent, std::string_view name, int64_t& id) {
        Statement s(db_, "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)");
        if (auto ec = s.Bind(1, parent).Bind(2, name).Bind(3, FoldRegistryName(name)).Run())
            return ec;
        id = sqlite3_last_insert_rowid(db_);
        return {};
    }

    std::optional<RegValue> Value(int64_t key, std::string_view name, std::error_code& ec) {
        Statement s(db_, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
        s.Bind(1, key).Bind(2, FoldRegistryName(name));
        std::optional<RegValue> v;
        if (s.Step()) {
            v.emplace();
            v->type = static_cast<RegType>(static_cast<uint32_t>(s.Int(0)));
            v->data = s.Blob(1);
        }
        if ((ec = s.error())) return std::nullopt;
        return v;
    }

    // Keeps the spelling of the value's first write.
    std::error_code Put(int64_t key, std::string_view name, const RegValue& value) {
        Statement s(db_,
                    "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, "
                    "data = excluded.data");
        return s.Bind(1, key)
            .Bind(2, name)
            .Bind(3, FoldRegistryName(name))
            .Bind(4, static_cast<int64_t>(static_cast<uint32_t>(value.type)))
            .BindBlob(5, value.data)
            .Run();
    }

    // Removes every key below `id` with its values, and the values of `id`;
    // `id` itself too when `self`.
    std::error_code DeleteBelow(int64_t id, bool self) {
        static constexpr const char* kTree =
            "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
            "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) ";
        Statement vals(
            db_,
            (std::string(kTree) + "DELETE FROM vals WHERE key IN (SELECT id FROM tree)").c_str());
        if (auto ec = vals.Bind(1, id).Run()) return ec;
        Statement keys(db_, (std::string(kTree) +
                             "DELETE FROM keys WHERE id IN (SELECT id FROM tree) AND id != ?2")
                                .c_str());
        return keys.Bind(1, id).Bind(2, self ? int64_t(-1) : id).Run();
    }

    std::error_code Insert(int64_t id, const regdetail::KeySnapshot& snapshot) {
        for (const auto& v : snapshot.values)
            if (auto ec = Put(id, v.name, v.value)) return ec;
        for (const auto& sub : snapshot.subkeys) {
            int64_t child = 0;
            if (auto ec = InsertKey(id, sub.name, child)) return ec;
            if (auto ec = Insert(child, sub.content)) return ec;
        }
        return {};
    }

    std::error_code Snapshot(int64_t id, regdetail::KeySnapshot& out) {
        Statement vals(db_, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY fold");
        vals.Bind(1, id);
        while (vals.Step()) {
            RegValue v;
            v.type = static_cast<RegType>(static_cast<uint32_t>(vals.Int(1)));
            v.data = vals.Blob(2);
            out.values.push_back({vals.Text(0), std::move(v)});
        }
        if (auto ec = vals.error()) return ec;
        std::vector<std::pair<int64_t, std::string>> children;
        Statement keys(db_, "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY fold");
        keys.Bind(1, id);
        while (keys.Step()) children.emplace_back(keys.Int(0), keys.Text(1));
        if (auto ec = keys.error()) return ec;
        for (auto& [child, name] : children) {
            regdetail::SnapshotSubKey sub{std::move(name), {}};
            if (auto ec = Snapshot(child, sub.content)) return ec;
            out.subkeys.push_back(std::move(sub));
        }
        return {};
    }

    std::vector<std::string> Names(std::string_view key, const char* sql, std::error_code& ec) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        Transaction t(db_, false);
        if ((ec = t.error())) return out;
        int64_t id = Find(key, ec);
        if (id == 0) return out;
        Statement s(db_, sql);
        s.Bind(1, id);
        while (s.Step()) out.push_back(s.Text(0));
        if ((ec = s.error())) out.clear();
        return out;
    }

    sqlite3* db_;
    std::mutex mutex_;
};

std::error_code Pragma(sqlite3* db, const char* sql, int64_t& value) {
    Statement s(db, sql);
    value = s.Step() ? s.Int(0) : 0;
    return s.error();
}

// Creates the tables on first use. Two processes may race here; the write
// lock orders them and the second finds the work done.
std::error_code Initialise(sqlite3* db) {
    int64_t version = 0, appId = 0;
    if (auto ec = Pragma(db, "PRAGMA user_version", version)) return ec;
    if (auto ec = Pragma(db, "PRAGMA application_id", appId)) return ec;
    if (appId != 0 && appId != kApplicationId) return Errc(std::errc::bad_message);
    if (version > kSchemaVersion) return Errc(std::errc::not_supported);
    if (version == kSchemaVersion) return {};
    Transaction t(db, true);
    if (t.error()) return t.error();
    if (auto ec = Pragma(db, "PRAGMA user_version", version)) return ec;
    if (version == kSchemaVersion) return {};
    const std::string sql = std::string(kSchema) +
                            "PRAGMA application_id = " + std::to_string(kApplicationId) +
                            "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
    if (int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr))
        return FromSqlite(db, rc);
    return t.Commit();
}

// Calls to a store that could not be opened: each one tries to open it
// again, so a store that appears later (or a lock that goes away) is used.
std::string MachineStorePath() {
    return UnderMachineRoot("var/lib/mw/registry.db");
}

class LazyMachineRegistry final : public Registry {
public:
    bool KeyExists(std::string_view key, std::error_code& ec) override {
        Registry* r = Get(ec, /*create=*/false);
        return r ? r->KeyExists(key, ec) : false;
    }
    std::error_code CreateKey(std::string_view key) override {
        std::error_code ec;
        Registry* r = Get(ec);
        return r ? r->CreateKey(key) : ec;
    }
    std::optional<RegValue> GetValue(std::string_view key, std::string_view name,
                                     std::error_code& ec) override {
        Registry* r = Get(ec, /*create=*/false);
        return r ? r->GetValue(key, name, ec) : std::nullopt;
    }
    std::error_code SetValue(std::string_view key, std::string_view name,
                             const RegValue& value) override {
        std::error_code ec;
        Registry* r = Get(ec);
        return r ? r->SetValue(key, name, value) : ec;
    }
    std::error_code DeleteValue(std::string_view key, std::string_view name) override {
        std::error_code ec;
        Registry* r = Get(ec);
        return r ? r->DeleteValue(key, name) : ec;
    }
    std::error_code DeleteTree(std::string_view key) override {
        std::error_code ec;
        Registry* r = Get(ec);
        return r ? r->DeleteTree(key) : ec;
    }
    std::vector<std::string> SubKeys(std::string_view key, std::error_code& ec) override {
        Registry* r = Get(ec, /*create=*/false);
        return r ? r->SubKeys(key, ec) : std::vector<std::string>();
    }
    std::vector<std::string> ValueNames(std::string_view key, std::error_code& ec) override {
        Registry* r = Get(ec, /*create=*/false);
        return r ? r->ValueNames(key, ec) : std::vector<std::string>();
    }
    std::error_code SaveKey(std::string_view key, const std::string& file) override {
        std::error_code ec;
        Registry* r = Get(ec);
        return r ? r->SaveKey(key, file) : ec;
    }
    std::error_code RestoreKey(std::string_view key, const std::string& file) override {
        std::error_code ec;
        Registry* r = Get(ec);
        return r ? r->RestoreKey(key, file) : ec;
    }
    std::error_code UpdateValue(std::string_view key, std::string_view name,
                                const ValueUpdate& update) override {
        std::error_code ec;
        Registry* r = Get(ec);
        return r ? r->UpdateValue(key, name, update) : ec;
    }

private:
    // Reading never creates the store: a machine without one simply has no
    // keys, and a run that only looks (start-up, detection) leaves nothing
    // behind. The first write creates it.
    Registry* Get(std::error_code& ec, bool create = true) {
        std::lock_guard lock(mutex_);
        if (!store_) {
            struct stat st;
            if (!create && ::lstat(MachineStorePath().c_str(), &st) != 0 && errno == ENOENT)
                return nullptr;
            store_ = OpenMachineRegistry(ec);
        }
        return store_.get();
    }
    std::mutex mutex_;
    std::unique_ptr<Registry> store_;
};

std::atomic<Registry*> g_testRegistry{nullptr};

}  // namespace

std::unique_ptr<Registry> OpenRegistryAt(const std::string& databasePath, std::error_code& ec) {
    // Made here rather than by SQLite so that its mode does not depend on
    // the umask; a link planted at the path is refused, not followed.
    int fd = ::open(databasePath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::fchmod(fd, 0644);
        ::close(fd);
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(databasePath.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        ec = FromSqlite(db, rc);
        if (!ec) ec = Errc(std::errc::io_error);
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    if ((ec = Initialise(db))) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    ec.clear();
    return std::make_unique<SqliteRegistry>(db);
}

std::unique_ptr<Registry> OpenMachineRegistry(std::error_code& ec) {
    // The folders are walked and made without following links, each new one
    // 0755 on its own descriptor. Root then opens the store by its path only
    // once no other user could change any folder on that path, so the path
    // still names what was checked.
    UniqueFd machine, folder;
    if ((ec = OpenNoFollow(MachineRoot(), O_PATH | O_DIRECTORY, machine))) return nullptr;
    if ((ec = OpenOrMakeFolders(machine.get(), "var/lib/mw", true, 0755, folder))) return nullptr;
    const std::string path = MachineStorePath();
    if (::geteuid() == 0 && !OnlyAdministratorCouldChange(ParentPath(path))) {
        ec = Errc(std::errc::permission_denied);
        return nullptr;
    }
    return OpenRegistryAt(path, ec);
}

Registry& MachineRegistry() {
    if (Registry* r = g_testRegistry.load()) return *r;
    static LazyMachineRegistry machine;
    return machine;
}

void SetMachineRegistryForTesting(Registry* registry) {
    g_testRegistry.store(registry);
}

}  // namespace mw::platform
