// Destination folder tokens: the payload archive names every destination
// folder as a token such as <CommonData> followed by plain path elements, and
// the resolver turns that into a real folder of this machine. It also decides
// which folders below the all-user folders must be opened to every user once
// files are written into them (the extractor's list of folders to open).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mw {

// In the order in which they are tested.
enum class DestinationToken {
    InstallPath,
    SamplePath,
    ProgramFiles,
    ProgramCommon,
    CommonData,
    UserData,
    CommonDocuments,
    Documents,
    CommonDesktop,
    Desktop,
    WinDir,
    System,
    Temporary,
};

// "<InstallPath>", ... as written in the archive.
std::string_view TokenText(DestinationToken token);

// The token spelled exactly (same case, same length) by `element`.
std::optional<DestinationToken> MatchToken(std::string_view element);

// The folders the tokens refer to besides the machine's own.
struct DestinationFolders {
    std::string installFolder;     // chosen in the wizard; absolute
    std::string sampleFolderName;  // "Arbolux Examples" in English, or an absolute path
    std::string tempFolder;        // the install sequence's work folder; may be empty
};

// The folder of a CSIDL number (platform::SpecialFolder), else, with
// `useFallback`, that of `fallbackCsidl`. Not created. Throws
// std::system_error with CompressError::UnexpectedError when both are empty.
std::string ShellFolder(int csidl, int fallbackCsidl, bool useFallback);

// Turns a destination directory of the archive ('\' and '/' both separate its
// elements) into a folder path. A text that does not start with a token
// element ("<...>") comes back as it is, with '/' as separator; an element
// that looks like a token but is none resolves to the remaining elements
// alone. For the shared tokens (<CommonData>, <CommonDocuments>,
// <CommonDesktop>) every folder built below the all-user folder is appended
// to `foldersToOpen` unless the same folder is listed already; <SamplePath>
// with a relative sample folder name lists that one folder. Throws
// std::system_error with CompressError::UnexpectedError when a folder of the
// machine is unknown, when <InstallPath> (or <Temporary> falling back on it)
// is empty or relative, or when an element after the token is "." or "..".
std::string ResolveDestination(std::string_view directory, const DestinationFolders& folders,
                               std::vector<std::string>& foldersToOpen);

// The file name of an entry: its source path's last element (after the last
// '\' or '/'). Throws UnexpectedError when that is empty, "." or "..": a file
// name is one plain element.
std::string DestinationFileName(std::string_view source);

// ResolveDestination of `directory` joined with DestinationFileName(source).
std::string ResolveEntryDestination(std::string_view directory, std::string_view source,
                                    const DestinationFolders& folders,
                                    std::vector<std::string>& foldersToOpen);

// Whether two paths name the same folder: their texts are equal, or the file
// system says they are the same object (decisive as soon as one of them
// exists), or, when that cannot be told, they are equal once made absolute
// and normalised ("." dropped, ".." resolved), element by element ignoring
// case.
bool SameFolder(const std::string& a, const std::string& b);

}  // namespace mw
