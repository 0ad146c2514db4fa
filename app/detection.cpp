#include "app/detection.hpp"

#include <mutex>
#include <optional>

#include "app/identity.hpp"
#include "app/install_settings.hpp"
#include "app/version_info.hpp"
#include "journal/install_log.hpp"
#include "platform/file_system.hpp"
#include "platform/path.hpp"
#include "platform/program_path.hpp"
#include "platform/registry.hpp"
#include "platform/trusted_path.hpp"

namespace mw {
namespace {

// The file system's status of the path names something, and no error was
// reported.
bool Exists(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    platform::FileInfo info = platform::Files().Status(path, ec);
    return !ec && info.type != platform::FileType::None;
}

// A string value by the design's reading rule; nullopt for an absent value, a
// value of another type or form, and any registry error.
std::optional<std::string> ReadString(std::string_view key, std::string_view name) {
    std::error_code ec;
    std::optional<platform::RegValue> value = platform::MachineRegistry().GetValue(key, name, ec);
    if (ec || !value) return std::nullopt;
    return value->Text();
}

std::string LogBeside(const std::string& file) {
    std::string folder = platform::ParentPath(file);
    if (folder.empty()) return {};
    return (folder == "/" ? "" : folder) + "/" + std::string(InstallLogFile::kFileName);
}

std::optional<std::string>& ProgramPathCache() {
    static std::optional<std::string> cache;
    return cache;
}
std::mutex& ProgramPathMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

const std::string& InstalledProgramPath() {
    std::lock_guard lock(ProgramPathMutex());
    std::optional<std::string>& cache = ProgramPathCache();
    if (!cache) {
        std::optional<std::string> path =
            ReadString(makerKey, ProductKeyName(productCode) + " Path");
        // The status check follows links: a dangling one is no program.
        cache =
            path && Exists(*path) && platform::ExistsFollowingLinks(*path) ? *path : std::string();
    }
    return *cache;
}

void ForgetInstalledProgramPathForTesting() {
    std::lock_guard lock(ProgramPathMutex());
    ProgramPathCache().reset();
}

std::string FindInstallLog() {
    return FindInstallLog(platform::ProgramPath());
}

std::string FindInstallLog(const std::string& installerPath) {
    auto usable = [](const std::string& candidate) {
        return Exists(candidate) && platform::OnlyAdministratorCouldWrite(candidate);
    };
    // The uninstaller's place, its value taken as a path as it stands.
    if (std::optional<std::string> uninstaller = ReadString(uninstallKey, "UninstallString")) {
        std::string candidate = LogBeside(*uninstaller);
        if (usable(candidate)) return candidate;
    }
    std::string candidate = LogBeside(installerPath);
    if (usable(candidate)) return candidate;
    candidate = LogBeside(InstalledProgramPath());
    if (usable(candidate)) return candidate;
    return {};
}

void DetectPreviousInstallation(InstallSettings& settings, unsigned codePage) {
    DetectPreviousInstallation(settings, codePage, platform::ProgramPath());
}

void DetectPreviousInstallation(InstallSettings& settings, unsigned codePage,
                                const std::string& installerPath) {
    const std::string& program = InstalledProgramPath();
    if (program.empty()) {
        settings.previousState = PreviousInstallState::None;
        settings.journal.ReadLog(std::nullopt, codePage);
        return;
    }
    VersionInfo version = VersionInfo::OfFile(program);
    if (!version.Fixed()) {
        settings.previousState = PreviousInstallState::SameVersion;
    } else {
        uint64_t v = version.Version();
        if (v > productRelease) {
            settings.previousState = PreviousInstallState::NewerVersion;
            settings.previousVersionText = version.ProductText();
            settings.journal.ReadLog(std::nullopt, codePage);
            return;
        }
        if (v == productRelease) {
            settings.previousState = PreviousInstallState::SameVersion;
        } else {
            settings.previousState = PreviousInstallState::OlderVersion;
            settings.previousVersionText = version.ProductText();
            settings.previousVersion = v;
        }
    }
    std::string log = FindInstallLog(installerPath);
    if (!log.empty()) {
        settings.journal.ReadLog(log, codePage);
        settings.installFolder = settings.journal.installPath;
        settings.startMenuFolder = settings.journal.shortcutPath;
    }
    // The folder page keeps an earlier installation's folder as it is: when no
    // log names it, the default would put a second copy beside the first.
    if (settings.installFolder.empty()) settings.installFolder = platform::ParentPath(program);
}

}  // namespace mw
