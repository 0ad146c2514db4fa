// Rules shared by every registry store, so the SQLite store and the in-memory
// fake cannot drift apart: how key paths split, how names fold, and the
// saved-key file format.
//
// Saved-key file (all integers little-endian u32):
//   "MWREGKEY", version 1, node, CRC-32 of every byte before it
//   node  = value count, values, subkey count, subkeys
//   value = name length, name (UTF-8), type, data length, data
//   subkey = name length, name (UTF-8), node
// Values and subkeys are written sorted by folded name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/registry.hpp"

namespace mw::platform::regdetail {

// Deepest nesting a store accepts below the key a file is restored into.
inline constexpr int kMaxDepth = 512;

// Levels of a key path; "" is the root (no levels). Empty levels and text
// that is not UTF-8 give invalid_argument.
std::error_code SplitKeyPath(std::string_view key, std::vector<std::string>& levels);
// A value name may be empty (the default value) but must be UTF-8.
std::error_code CheckValueName(std::string_view name);

struct SnapshotValue {
    std::string name;
    RegValue value;
};
struct SnapshotSubKey;
struct KeySnapshot {
    std::vector<SnapshotValue> values;
    std::vector<SnapshotSubKey> subkeys;
};
struct SnapshotSubKey {
    std::string name;
    KeySnapshot content;
};

// Puts values and subkeys (recursively) into the order the file uses.
void SortSnapshot(KeySnapshot& snapshot);
std::string EncodeSnapshot(const KeySnapshot& snapshot);
// bad_message for anything that is not a complete, intact file of this
// format with valid, unique names and nesting within kMaxDepth.
std::error_code DecodeSnapshot(std::string_view bytes, KeySnapshot& snapshot);

// Creates `path` exclusively (O_EXCL, O_NOFOLLOW, mode 0600) and writes the
// encoded snapshot; on failure the created file is removed again.
std::error_code WriteSnapshotFile(const std::string& path, const KeySnapshot& snapshot);
// Reads a regular file (a link is not followed) and decodes it.
std::error_code ReadSnapshotFile(const std::string& path, KeySnapshot& snapshot);

}  // namespace mw::platform::regdetail
