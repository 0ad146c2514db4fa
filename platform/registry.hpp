// The machine registry (HKEY_LOCAL_MACHINE): a SQLite store shared by the
// installer, the installed program and its uninstaller. Key paths use '\\'
// between levels, as in "Software\\Meridan Works"; key and value names compare
// without regard to case. Values keep their Windows type and exact bytes.
//
// Names: UTF-8, compared after Unicode simple case folding code point by code
// point (so "Ä" matches "ä", and "ß" does not match "SS", as a registry that
// compares one character at a time would have it). A key keeps the spelling it
// was created with; a value keeps the spelling of its first write. A key path
// is split at '\\'; "" is the root, and an empty level (a leading, trailing or
// doubled '\\') is refused with invalid_argument, as is text that is not UTF-8.
// Listings come sorted by folded name.
//
// Errors are generic std::errc codes: no_such_file_or_directory for a missing
// key or value, permission_denied when the store is read-only for this user,
// device_or_resource_busy when another process kept it locked beyond the
// waiting time, file_exists when SaveKey's file is already there, bad_message
// for a saved-key file that is damaged or not one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace mw::platform {

enum class RegType : uint32_t {
    None = 0,
    Sz = 1,
    ExpandSz = 2,
    Binary = 3,
    Dword = 4,
    DwordBigEndian = 5,
    Link = 6,
    MultiSz = 7,
    Qword = 11,
};

struct RegValue {
    RegType type = RegType::None;
    std::vector<uint8_t> data;

    // UTF-8 text stored as UTF-16LE with the terminating zero. Bytes that are
    // not UTF-8 become U+FFFD.
    static RegValue String(std::string_view utf8, RegType type = RegType::Sz);
    static RegValue Dword(uint32_t value);  // little-endian, 4 bytes
    static RegValue Qword(uint64_t value);  // little-endian, 8 bytes
    static RegValue Binary(std::vector<uint8_t> bytes);

    // The reading rule for string values: type Sz or ExpandSz (not expanded),
    // an even size, and either no data (empty text) or data whose last UTF-16
    // unit is the terminating zero, which is not kept. Anything else: nullopt.
    // Unpaired surrogates become U+FFFD.
    std::optional<std::string> Text() const;
    // Type Dword with exactly 4 bytes.
    std::optional<uint32_t> DwordValue() const;

    bool operator==(const RegValue&) const = default;
};

class Registry {
public:
    virtual ~Registry() = default;

    virtual bool KeyExists(std::string_view key, std::error_code& ec) = 0;
    // Creates the key and its missing parents; an existing key is fine.
    virtual std::error_code CreateKey(std::string_view key) = 0;
    // nullopt with no error: the key or the value is absent.
    virtual std::optional<RegValue> GetValue(std::string_view key, std::string_view name,
                                             std::error_code& ec) = 0;
    // The key must exist.
    virtual std::error_code SetValue(std::string_view key, std::string_view name,
                                     const RegValue& value) = 0;
    virtual std::error_code DeleteValue(std::string_view key, std::string_view name) = 0;
    // Deletes the key with all its subkeys and values. The root cannot be
    // deleted (invalid_argument).
    virtual std::error_code DeleteTree(std::string_view key) = 0;
    virtual std::vector<std::string> SubKeys(std::string_view key, std::error_code& ec) = 0;
    virtual std::vector<std::string> ValueNames(std::string_view key, std::error_code& ec) = 0;
    // Writes the key's values and subkeys to a new standalone file. The file
    // is created exclusively (mode 0600, a link there is not followed): when
    // anything exists at that path the save fails with file_exists. A save
    // that fails part-way removes the file it created.
    virtual std::error_code SaveKey(std::string_view key, const std::string& file) = 0;
    // Replaces the whole content of the (existing) key with the file's, all or
    // nothing: a damaged file changes nothing.
    virtual std::error_code RestoreKey(std::string_view key, const std::string& file) = 0;

    // Read-modify-write of one value, atomic against every other process:
    // `update` gets the current value (nullopt when absent) and returns the
    // new one, or nullopt to leave it as it is. The key must exist. `update`
    // may run more than once and must not use the registry itself.
    using ValueUpdate = std::function<std::optional<RegValue>(const std::optional<RegValue>&)>;
    virtual std::error_code UpdateValue(std::string_view key, std::string_view name,
                                        const ValueUpdate& update) = 0;
};

// The store at $MW_ROOT/var/lib/mw/registry.db (created on first use).
//
// Permissions: the folders var/lib/mw are created 0755 and the store 0644,
// whatever the umask, so every user reads it (the installed program looks up
// its own values) and only its owner writes it, which on a real machine is
// root: the installer and what it starts. This is the counterpart of the
// default rights on HKEY_LOCAL_MACHINE. A user without write access gets
// permission_denied from every change. SQLite's rollback journal beside the
// store takes the store's owner and mode.
std::unique_ptr<Registry> OpenMachineRegistry(std::error_code& ec);
// The same kind of store at a given file (tools and tests).
std::unique_ptr<Registry> OpenRegistryAt(const std::string& databasePath, std::error_code& ec);

// The process-wide registry; opened on first use unless a test installed one.
// When the store cannot be opened, every operation reports the opening error.
Registry& MachineRegistry();
// Installs `registry` (not owned) as MachineRegistry(); nullptr goes back to
// the machine store.
void SetMachineRegistryForTesting(Registry* registry);

}  // namespace mw::platform
