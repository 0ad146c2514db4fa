#include "product/registration.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/identity.hpp"
#include "platform/file_system.hpp"
#include "platform/os_error.hpp"
#include "platform/path.hpp"
#include "platform/process.hpp"
#include "platform/registry.hpp"
#include "platform/roots.hpp"
#include "platform/utf16.hpp"

namespace mw::product {
namespace {

using platform::Files;
using platform::FileType;
using platform::RegType;
using platform::RegValue;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::optional<uint64_t> ParseHex16(std::string_view text) {
    if (text.size() != 16) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return value;
}

std::string ShareFolder() {
    return platform::UnderMachineRoot("usr/local/share");
}

// REG_MULTI_SZ: each text with its zero, then one more zero.
RegValue MultiString(const std::vector<std::string>& texts) {
    RegValue value;
    value.type = RegType::MultiSz;
    for (const std::string& text : texts) {
        const RegValue one = RegValue::String(text);
        value.data.insert(value.data.end(), one.data.begin(), one.data.end());
    }
    value.data.push_back(0);
    value.data.push_back(0);
    return value;
}

std::vector<std::string> MultiStringTexts(const RegValue& value) {
    std::vector<std::string> texts;
    if (value.type != RegType::MultiSz) return texts;
    std::u16string current;
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
        if (unit != 0) {
            current += unit;
        } else if (!current.empty()) {
            texts.push_back(platform::Utf16ToUtf8(current));
            current.clear();
        }
    }
    return texts;
}

// Creates the missing folders above and at `folder`, adding each one made
// to `created` (outermost first).
std::error_code MakeFolders(const std::string& folder, std::vector<std::string>& created) {
    std::error_code ec;
    const platform::FileInfo info = Files().Status(folder, ec);
    if (ec) return ec;
    if (info.type == FileType::Directory) return {};
    if (info.type != FileType::None) return platform::OsError(std::errc::not_a_directory);
    if (folder.empty() || folder == "/")
        return platform::OsError(std::errc::no_such_file_or_directory);
    if (auto parent = MakeFolders(platform::ParentPath(folder), created)) return parent;
    if (auto made = Files().CreateDirectory(folder)) return made;
    created.push_back(folder);
    return {};
}

std::error_code WriteTextFile(const std::string& path, const std::string& text) {
    std::error_code ec;
    const platform::FileInfo info = Files().Status(path, ec);
    if (ec) return ec;
    // Only a file of ours is replaced; a link or folder planted there is not.
    if (info.type != FileType::None && info.type != FileType::Regular)
        return platform::OsError(std::errc::file_exists);
    std::unique_ptr<platform::OutputFile> out = Files().OpenForWrite(path, ec);
    if (!out) return ec ? ec : platform::OsError(std::errc::io_error);
    if (auto written = out->Write(text.data(), text.size())) return written;
    return out->Close();
}

std::error_code RemoveOwnFile(const std::string& path) {
    std::error_code ec;
    const platform::FileInfo info = Files().Status(path, ec);
    if (ec) return ec;
    if (info.type == FileType::None) return {};
    if (info.type != FileType::Regular) return platform::OsError(std::errc::file_exists);
    return Files().RemoveFile(path);
}

// What update-mime-database writes beside the packages folder.
constexpr const char* kMimeDatabaseFiles[] = {
    "aliases",    "generic-icons", "globs",     "globs2", "icons",   "magic",
    "mime.cache", "subclasses",    "treemagic", "types",  "version", "XMLnamespaces",
};

// Whether a regular file with that suffix lies anywhere below `folder`.
bool HasFileBelow(const std::string& folder, std::string_view suffix) {
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code status;
        if (it->is_regular_file(status) && name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

}  // namespace

ProgramCommand ParseProgramCommand(const std::vector<std::string>& args) {
    ProgramCommand command;
    using Kind = ProgramCommand::Kind;
    if (args.empty()) return command;
    if (EqualsNoCase(args[0], "/Unregister")) {
        command.kind = args.size() == 1 ? Kind::Unregister : Kind::Invalid;
        return command;
    }
    if (!EqualsNoCase(args[0], "/Register")) {
        command.kind = Kind::Invalid;
        return command;
    }
    command.kind = Kind::Register;
    bool background = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        constexpr std::string_view kUpdate = "/update=";
        if (EqualsNoCase(arg, "/Background") && !background) {
            background = true;
        } else if (StartsWithNoCase(arg, kUpdate) && !command.previousVersion) {
            command.previousVersion = ParseHex16(std::string_view(arg).substr(kUpdate.size()));
            if (!command.previousVersion) command.kind = Kind::Invalid;
        } else {
            command.kind = Kind::Invalid;
        }
    }
    if (command.kind == Kind::Invalid) command.previousVersion.reset();
    return command;
}

std::string MimePackagePath() {
    return ShareFolder() + "/mime/packages/meridan-arbolux7.xml";
}

std::string AssociationPath() {
    return ShareFolder() + "/applications/meridan-arbolux7.desktop";
}

std::string MimePackageText() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
           "  <mime-type type=\"" +
           std::string(kMimeType) +
           "\">\n"
           "    <comment>Arbolux plant library</comment>\n"
           "    <comment xml:lang=\"fr\">Bibliothèque de plantes Arbolux</comment>\n"
           "    <glob pattern=\"*.ax-lib\"/>\n"
           "  </mime-type>\n"
           "</mime-info>\n";
}

std::string DesktopExecLine(std::string_view program) {
    // Inside double quotes, `"`, `` ` ``, `$` and `\` take a backslash; a
    // literal '%' is written "%%". The whole key value is then escaped once
    // more as a desktop entry string (each backslash doubled).
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += "\" %f";
    std::string value;
    for (char c : quoted) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

std::string AssociationText(const std::string& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Arbolux 7.13c\n"
           "Comment=Opens Arbolux plant libraries\n"
           "Exec=" +
           DesktopExecLine(program) + "\nTryExec=" + program +
           "\n"
           "MimeType=" +
           std::string(kMimeType) +
           ";\n"
           "NoDisplay=true\n";
}

std::string DottedVersion(uint64_t version) {
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(version >> 48),
                  static_cast<unsigned>((version >> 32) & 0xFFFF),
                  static_cast<unsigned>((version >> 16) & 0xFFFF),
                  static_cast<unsigned>(version & 0xFFFF));
    return text;
}

std::error_code Register(const std::string& program, std::optional<uint64_t> previousVersion) {
    platform::Registry& registry = platform::MachineRegistry();
    if (auto ec = registry.CreateKey(makerKey)) return ec;
    if (auto ec = registry.SetValue(makerKey, installPathValue, RegValue::String(program)))
        return ec;
    if (previousVersion) {
        if (auto ec = registry.SetValue(makerKey, kUpdatedFromValue,
                                        RegValue::String(DottedVersion(*previousVersion))))
            return ec;
    } else if (auto ec = registry.DeleteValue(makerKey, kUpdatedFromValue);
               ec && ec != std::errc::no_such_file_or_directory) {
        return ec;
    }

    // Folders made now join those an earlier registration made.
    std::error_code ec;
    std::vector<std::string> folders;
    if (auto known = registry.GetValue(makerKey, kRegisteredFoldersValue, ec))
        folders = MultiStringTexts(*known);
    std::vector<std::string> created;
    std::error_code failure = MakeFolders(platform::ParentPath(MimePackagePath()), created);
    if (!failure) failure = MakeFolders(platform::ParentPath(AssociationPath()), created);
    if (!created.empty()) {
        folders.insert(folders.end(), created.begin(), created.end());
        if (auto saved = registry.SetValue(makerKey, kRegisteredFoldersValue, MultiString(folders)))
            return saved;
    }
    if (failure) return failure;
    if (auto written = WriteTextFile(MimePackagePath(), MimePackageText())) return written;
    return WriteTextFile(AssociationPath(), AssociationText(program));
}

std::error_code Unregister(const std::string& program) {
    platform::Registry& registry = platform::MachineRegistry();
    std::error_code ec;
    const auto owner = registry.GetValue(makerKey, installPathValue, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) return ec;
    if (owner) {
        const auto text = owner->Text();
        if (text && *text != program) return {};
    }

    std::error_code failure = RemoveOwnFile(MimePackagePath());
    if (auto removed = RemoveOwnFile(AssociationPath()); removed && !failure) failure = removed;

    std::vector<std::string> folders;
    if (auto known = registry.GetValue(makerKey, kRegisteredFoldersValue, ec))
        folders = MultiStringTexts(*known);
    // Innermost first; a folder that holds something else stays.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        std::error_code status;
        if (Files().Status(*it, status).type == FileType::Directory)
            (void)Files().RemoveDirectory(*it);
    }
    if (failure) return failure;

    for (std::string_view name : {installPathValue, kUpdatedFromValue, kRegisteredFoldersValue}) {
        auto deleted = registry.DeleteValue(makerKey, name);
        if (deleted && deleted != std::errc::no_such_file_or_directory) return deleted;
    }
    // The maker's key goes when nothing else of the maker is left in it.
    std::error_code listing;
    const bool keyThere = registry.KeyExists(makerKey, listing);
    if (listing) return listing;
    if (keyThere && registry.ValueNames(makerKey, listing).empty() && !listing &&
        registry.SubKeys(makerKey, listing).empty() && !listing) {
        if (auto deleted = registry.DeleteTree(makerKey)) return deleted;
    }
    return listing;
}

void RefreshAssociations() {
    const std::string share = ShareFolder();
    auto run = [](const char* tool, const std::string& folder) {
        const std::string path = platform::FindProgram(tool);
        if (path.empty()) return;
        // Their advice about search paths is not for our user.
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        platform::ProcessOptions options;
        options.stdinFd = options.stdoutFd = options.stderrFd = null;
        int code = 0;
        (void)platform::RunProcess({path, folder}, code, options);
        if (null >= 0) ::close(null);
    };
    std::error_code ec;
    const std::string mime = share + "/mime";
    if (Files().Status(mime, ec).type == FileType::Directory) {
        if (HasFileBelow(mime + "/packages", ".xml")) {
            run("update-mime-database", mime);
        } else {
            // No package is left: the database describes nothing but what
            // was ours, so it goes rather than being written again.
            for (const char* generated : kMimeDatabaseFiles)
                (void)RemoveOwnFile(mime + "/" + generated);
            (void)RemoveOwnFile(mime + "/" + std::string(kMimeType) + ".xml");
            for (const char* folder : {"/application", "/packages", ""})
                if (Files().Status(mime + folder, ec).type == FileType::Directory)
                    (void)Files().RemoveDirectory(mime + folder);
        }
    }
    const std::string applications = share + "/applications";
    if (Files().Status(applications, ec).type == FileType::Directory) {
        if (HasFileBelow(applications, ".desktop"))
            run("update-desktop-database", applications);
        else
            (void)RemoveOwnFile(applications + "/mimeinfo.cache");
    }
}

}  // namespace mw::product
