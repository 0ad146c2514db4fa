#include "engine/tokens.hpp"

#include <unistd.h>

#include <system_error>

#include "engine/compress_error.hpp"
#include "platform/case_fold.hpp"
#include "platform/file_system.hpp"
#include "platform/path.hpp"
#include "platform/roots.hpp"

namespace mw {

namespace {

namespace csidl = platform::csidl;

struct TokenRow {
    DestinationToken token;
    std::string_view text;
    int folder;    // CSIDL, or 0 for the folders given by the caller
    int fallback;  // 0: none
    bool shared;
};

constexpr TokenRow kTokens[] = {
    {DestinationToken::InstallPath, "<InstallPath>", 0, 0, false},
    {DestinationToken::SamplePath, "<SamplePath>", 0, 0, false},
    {DestinationToken::ProgramFiles, "<ProgramFiles>", csidl::ProgramFiles, 0, false},
    {DestinationToken::ProgramCommon, "<ProgramCommon>", csidl::ProgramFilesCommon, 0, false},
    {DestinationToken::CommonData, "<CommonData>", csidl::CommonAppData, csidl::AppData, true},
    {DestinationToken::UserData, "<UserData>", csidl::AppData, 0, false},
    {DestinationToken::CommonDocuments, "<CommonDocuments>", csidl::CommonDocuments,
     csidl::Personal, true},
    {DestinationToken::Documents, "<Documents>", csidl::Personal, 0, false},
    {DestinationToken::CommonDesktop, "<CommonDesktop>", csidl::CommonDesktopDirectory,
     csidl::DesktopDirectory, true},
    {DestinationToken::Desktop, "<Desktop>", csidl::DesktopDirectory, 0, false},
    {DestinationToken::WinDir, "<WinDir>", csidl::Windows, 0, false},
    {DestinationToken::System, "<System>", csidl::System, 0, false},
    {DestinationToken::Temporary, "<Temporary>", 0, 0, false},
};

[[noreturn]] void Unexpected(const std::string& why) {
    throw std::system_error(make_error_code(CompressError::UnexpectedError), why);
}

// The table's paths separate with '\\' as well as '/'.
constexpr std::string_view kSeparators = "/\\";

std::vector<std::string> Elements(std::string_view text) {
    return platform::PathElements(text, kSeparators);
}

bool IsDotElement(std::string_view e) {
    return e == "." || e == "..";
}

// A folder of the machine, and whether it is the first (all-user) one rather
// than the fallback.
struct Found {
    std::string path;
    bool primary;
};

Found FindShellFolder(int folder, int fallback) {
    std::string path = platform::SpecialFolder(folder);
    if (!path.empty()) return {path, true};
    if (fallback != 0) path = platform::SpecialFolder(fallback);
    if (path.empty()) Unexpected("no folder for CSIDL " + std::to_string(folder));
    return {path, false};
}

// A folder given by the caller must be absolute: a relative one would put
// the files wherever the process happens to stand.
const std::string& CallerFolder(const std::string& folder, const char* what) {
    if (folder.empty() || folder[0] != '/') Unexpected(std::string(what) + " is empty or relative");
    for (const auto& e : Elements(folder))
        if (IsDotElement(e)) Unexpected(std::string(what) + " has a '.' or '..' element");
    return folder;
}

void ListOnce(std::vector<std::string>& list, const std::string& folder) {
    for (const auto& listed : list)
        if (SameFolder(listed, folder)) return;
    list.push_back(folder);
}

// Lexically absolute and normalised elements of a path.
std::vector<std::string> Normalised(const std::string& path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        char cwd[4096];
        std::string base = getcwd(cwd, sizeof cwd) ? cwd : "/";
        full = base + "/" + full;
    }
    return platform::NormalPathElements(full, kSeparators);
}


}  // namespace

std::string_view TokenText(DestinationToken token) {
    for (const auto& row : kTokens)
        if (row.token == token) return row.text;
    return {};
}

std::optional<DestinationToken> MatchToken(std::string_view element) {
    for (const auto& row : kTokens)
        if (row.text == element) return row.token;
    return std::nullopt;
}

std::string ShellFolder(int csidlNumber, int fallbackCsidl, bool useFallback) {
    return FindShellFolder(csidlNumber, useFallback ? fallbackCsidl : 0).path;
}

std::string ResolveDestination(std::string_view directory, const DestinationFolders& folders,
                               std::vector<std::string>& foldersToOpen) {
    std::vector<std::string> elements = Elements(directory);
    const bool rooted =
        !directory.empty() && kSeparators.find(directory[0]) != std::string_view::npos;
    if (elements.empty() || rooted || elements[0].size() < 2 || elements[0].front() != '<' ||
        elements[0].back() != '>') {
        std::string plain(directory);
        for (char& c : plain)
            if (c == '\\') c = '/';
        return plain;
    }

    std::string folder;
    bool shared = false;
    const std::optional<DestinationToken> token = MatchToken(elements[0]);
    const TokenRow* row = nullptr;
    for (const auto& r : kTokens)
        if (token && r.token == *token) row = &r;
    if (!token) {
        // Not a token after all: the rest alone, a relative path.
    } else if (*token == DestinationToken::InstallPath) {
        folder = CallerFolder(folders.installFolder, "the install folder");
    } else if (*token == DestinationToken::Temporary) {
        folder = folders.tempFolder.empty()
                     ? CallerFolder(folders.installFolder, "the install folder")
                     : CallerFolder(folders.tempFolder, "the work folder");
    } else if (*token == DestinationToken::SamplePath) {
        const std::string& name = folders.sampleFolderName;
        // An absolute sample folder needs no desktop: it is found even on a
        // machine that has none.
        if (!name.empty() && name[0] == '/') {
            folder = CallerFolder(name, "the sample folder");
        } else {
            Found desktop = FindShellFolder(csidl::CommonDesktopDirectory, csidl::DesktopDirectory);
            if (name.empty()) {
                folder = desktop.path;
            } else {
                for (const auto& e : Elements(name))
                    if (IsDotElement(e))
                        Unexpected("the sample folder name has a '.' or '..' element");
                folder = platform::JoinPath(desktop.path, name, kSeparators);
                // Only a folder below the all-user desktop is opened to all
                // users; below the user's own desktop it stays the user's.
                if (desktop.primary) ListOnce(foldersToOpen, folder);
            }
        }
    } else {
        Found found = FindShellFolder(row->folder, row->fallback);
        folder = found.path;
        // The fallback is a folder of the user's own: nothing there is opened
        // to the other users.
        shared = row->shared && found.primary;
    }

    for (size_t i = 1; i < elements.size(); ++i) {
        if (IsDotElement(elements[i]))
            Unexpected("destination directory has a '.' or '..' element: " +
                       std::string(directory));
        folder = platform::JoinPath(folder, elements[i], kSeparators);
        if (shared) ListOnce(foldersToOpen, folder);
    }
    return folder;
}

std::string DestinationFileName(std::string_view source) {
    size_t cut = source.find_last_of("\\/");
    std::string_view name = cut == std::string_view::npos ? source : source.substr(cut + 1);
    if (name.empty() || IsDotElement(name))
        Unexpected("source path has no plain file name: " + std::string(source));
    return std::string(name);
}

std::string ResolveEntryDestination(std::string_view directory, std::string_view source,
                                    const DestinationFolders& folders,
                                    std::vector<std::string>& foldersToOpen) {
    std::string name = DestinationFileName(source);
    return platform::JoinPath(ResolveDestination(directory, folders, foldersToOpen), name,
                              kSeparators);
}

bool SameFolder(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (!a.empty() && a[0] == '/' && !b.empty() && b[0] == '/') {
        platform::FileSystem& fs = platform::Files();
        std::error_code ea, eb;
        platform::FileInfo ia = fs.Status(a, ea);
        platform::FileInfo ib = fs.Status(b, eb);
        if (!ea && !eb &&
            (ia.type != platform::FileType::None || ib.type != platform::FileType::None))
            return ia.type != platform::FileType::None && ib.type != platform::FileType::None &&
                   ia.device == ib.device && ia.inode == ib.inode;
    }
    std::vector<std::string> na = Normalised(a), nb = Normalised(b);
    if (na.size() != nb.size()) return false;
    for (size_t i = 0; i < na.size(); ++i)
        if (!platform::SameFileName(na[i], nb[i])) return false;
    return true;
}

}  // namespace mw
