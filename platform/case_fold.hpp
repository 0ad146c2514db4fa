// Case-insensitive comparison, one helper per meaning. The installer compares
// names without regard to case in four places, and each needs its own rule:
//
// - Registry key and value names: Unicode simple case folding, one code
//   point to one. The registry store keeps the folded name of every key and
//   value, so this rule is part of the stored format and must not change.
// - File and folder names (the same-item test of the install log's entries,
//   the same-folder test of the shared folders, the folder chooser matching
//   a typed path, the order of a folder list):
//   Unicode full case folding, so that "STRASSE" and "straße" name the same
//   folder as they do for the user.
// - Destination tokens of the payload's table ("<InstallPath>"): no folding.
//   A token matches only as spelt; "<installpath>" is an unknown token, so
//   MatchToken compares bytes and needs no helper here.
// - Privilege names ("SeBackupPrivilege"): ASCII letters only; the names are
//   ASCII, and no other letter may make an unknown name match a known one.
//
// All texts are UTF-8; an ill-formed sequence counts as U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace mw::platform {

// Registry names: the folded form the registry store keys on.
std::string FoldRegistryName(std::string_view utf8);

// File and folder names.
std::string FoldFileName(std::string_view utf8);
bool SameFileName(std::string_view a, std::string_view b);
// Negative, zero or positive as `a` sorts before, with or after `b` when
// case is ignored.
int CompareFileNames(std::string_view a, std::string_view b);

// Privilege names.
bool SamePrivilegeName(std::string_view a, std::string_view b);

}  // namespace mw::platform
