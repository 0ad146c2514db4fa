// The machine registry (HKEY_LOCAL_MACHINE): a SQLite store shared by the
// installer, the installed program and its uninstaller. Key paths use '\\'
// between levels, as in "Software\\Meridan Works"; key and value names compare
// without regard to case. Values keep their Windows type and exact bytes.
#pragma once

#include <cstdint>
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

    // UTF-8 text stored as UTF-16LE with the terminating zero.
    static RegValue String(std::string_view utf8, RegType type = RegType::Sz);
    static RegValue Dword(uint32_t value);
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
    // Deletes the key with all its subkeys and values.
    virtual std::error_code DeleteTree(std::string_view key) = 0;
    virtual std::vector<std::string> SubKeys(std::string_view key, std::error_code& ec) = 0;
    virtual std::vector<std::string> ValueNames(std::string_view key, std::error_code& ec) = 0;
    // Writes the key's values and subkeys to a new standalone file.
    virtual std::error_code SaveKey(std::string_view key, const std::string& file) = 0;
    // Replaces the whole content of the (existing) key with the file's.
    virtual std::error_code RestoreKey(std::string_view key, const std::string& file) = 0;
};

// The store at $MW_ROOT/var/lib/mw/registry.db (created on first use).
std::unique_ptr<Registry> OpenMachineRegistry(std::error_code& ec);
// A store in memory, for unit tests.
std::unique_ptr<Registry> MakeFakeRegistry();

// The process-wide registry; opened on first use unless a test installed one.
Registry& MachineRegistry();
void SetMachineRegistryForTesting(Registry* registry);

}  // namespace mw::platform
