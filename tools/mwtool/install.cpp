// mwtool install: the unattended installation that fleet tools (configuration
// management, image builders) run. It makes the installer's start-up
// decisions without a window (single-installer lock, language, rights, the
// running product without Retry, earlier installation and defaults), then
// runs the install sequence on the payload and identity inside INSTALLER.
//
//   install INSTALLER [--install-folder DIR] [--start-menu-folder DIR]
//           [--no-start-menu] [--no-desktop] [--language INDEX]
//
// Standard output: the summary, then the log line by line. Standard error:
// refusals and the final status line. Exit status: 0 installed, 1 failed
// (rolled back), 2 usage, 3 refused.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/detection.hpp"
#include "app/errors.hpp"
#include "app/identity.hpp"
#include "app/install_settings.hpp"
#include "app/languages.hpp"
#include "app/preconditions.hpp"
#include "app/text_format.hpp"
#include "app/user_path_text.hpp"
#include "app/version_info.hpp"
#include "command.hpp"
#include "console_surface.hpp"
#include "engine/install_sequence.hpp"
#include "engine/payload_source.hpp"
#include "platform/message_box.hpp"
#include "platform/resources.hpp"

namespace {

constexpr const char* kUsage =
    "install INSTALLER [--install-folder DIR] [--start-menu-folder DIR] [--no-start-menu] "
    "[--no-desktop] [--language INDEX]";

constexpr int kInstalled = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;
constexpr int kRefused = 3;

int Usage(const std::string& why = {}) {
    if (!why.empty()) std::fprintf(stderr, "mwtool install: %s\n", why.c_str());
    std::fprintf(stderr, "usage: mwtool %s\n", kUsage);
    return kUsageError;
}

int Refuse(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return kRefused;
}

// Message boxes become lines on standard error; a question is answered as
// its cancel button would be, so nothing waits for a user.
class ConsoleMessageBoxes final : public mw::platform::MessageBoxService {
public:
    int Show(mw::platform::Window*, const std::string& text, const std::string&,
             uint32_t type) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        switch (type & 0xF) {
            case mw::platform::mb::Ok:
                return mw::platform::idc::Ok;
            case mw::platform::mb::YesNo:
                return mw::platform::idc::No;
            default:
                return mw::platform::idc::Cancel;
        }
    }
};

struct Options {
    std::string installer;
    std::optional<std::string> installFolder;
    std::optional<std::string> startMenuFolder;
    bool noStartMenu = false;
    bool noDesktop = false;
    std::optional<mw::LanguageIndex> language;
};

// A folder from the command line: refused when it holds control characters;
// a relative one counts from the current folder.
std::optional<std::string> FolderArgument(const std::string& text) {
    if (text.empty() || !mw::IsAcceptableUserPathText(text)) return std::nullopt;
    std::string path = std::filesystem::absolute(text).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::optional<std::string> ParseOptions(const mwtool::Args& args, Options& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (a == "--install-folder" || a == "--start-menu-folder") {
            std::optional<std::string> v = value();
            if (!v) return a + " needs a folder";
            std::optional<std::string> folder = FolderArgument(*v);
            if (!folder) return a + ": not a usable folder text";
            (a == "--install-folder" ? o.installFolder : o.startMenuFolder) = folder;
        } else if (a == "--no-start-menu") {
            o.noStartMenu = true;
        } else if (a == "--no-desktop") {
            o.noDesktop = true;
        } else if (a == "--language") {
            std::optional<std::string> v = value();
            int index = -1;
            if (!v || std::from_chars(v->data(), v->data() + v->size(), index).ec != std::errc() ||
                std::to_string(index) != *v || !mw::IsProductLanguage(index)) {
                return "--language takes the index of a product language (0, 1, 2, 3, 4, 5, 7, "
                       "14 or 18)";
            }
            o.language = index;
        } else if (!a.empty() && a[0] == '-') {
            return "unknown option " + a;
        } else if (o.installer.empty()) {
            o.installer = a;
        } else {
            return "only one installer";
        }
    }
    if (o.installer.empty()) return "no installer given";
    return std::nullopt;
}

std::string QuoteSpaces(const std::string& path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

// The summary of the options, as the progress page shows it before the
// installation starts.
void WriteSummary(mw::InstallSurface& surface, const mw::InstallSettings& s) {
    using mw::FormatMessageText;
    using mw::LoadCatalogString;
    surface.AppendLog(
        FormatMessageText(LoadCatalogString(1100), {mw::ProductDisplayName(false)}) + "\r\n",
        false);
    surface.AppendLog(LoadCatalogString(1122), true);
    surface.AppendLog(
        FormatMessageText(LoadCatalogString(1123), {QuoteSpaces(s.installFolder)}) + "\r\n", false);
    if (s.startMenuShortcut) {
        surface.AppendLog(
            FormatMessageText(LoadCatalogString(1124), {QuoteSpaces(s.startMenuFolder)}) + "\r\n",
            false);
    }
    if (s.desktopShortcut) surface.AppendLog(LoadCatalogString(1125) + "\r\n", false);
}

int Install(const mwtool::Args& args) {
    Options o;
    if (std::optional<std::string> why = ParseOptions(args, o)) return Usage(*why);

    std::error_code ec;
    std::unique_ptr<mw::platform::ResourceBundle> bundle =
        mw::platform::OpenResources(o.installer, ec);
    if (!bundle) return Usage(o.installer + ": not an installer (" + ec.message() + ")");
    mw::PayloadSource source;
    source.Open(bundle.get());
    if (source.size() == 0) return Usage(o.installer + ": the installer carries no payload");

    ConsoleMessageBoxes boxes;
    mw::platform::SetMessageBoxesForTesting(&boxes);
    struct Restore {
        ~Restore() {
            mw::platform::SetMessageBoxesForTesting(nullptr);
            mw::SetStringBundle(nullptr);
        }
    } restore;
    mw::SetStringBundle(bundle.get());

    // The identity of the installer decides the names of the lock and of
    // the product's instance counter.
    const std::string applicationId =
        mw::DetermineApplicationId(mw::VersionInfo::OfFile(o.installer), o.installer);
    mw::InstallSettings settings;
    settings.instanceMutex = std::make_unique<mw::platform::NamedMutex>(
        mw::InstanceMutexName(applicationId), /*initialOwner=*/false, /*global=*/true);
    if (!settings.instanceMutex->TryAcquire()) return Refuse(mw::ErrorCodeText(mw::kErrorBusy));

    mw::ChooseLanguageAtStart();
    if (!mw::IsAdministrator()) return Refuse(mw::LoadCatalogString(1126));
    mw::platform::InstanceCounter counter(mw::InstanceCounterName(applicationId));
    if (mw::ProductIsRunning(counter)) {
        return Refuse(
            mw::FormatMessageText(mw::LoadCatalogString(1127), {mw::ProductDisplayName(true)}));
    }
    // The earlier log is looked for where the installer itself would look:
    // beside its own program file, as the running program sees it (links
    // resolved), not beside this tool.
    std::error_code pathError;
    std::filesystem::path installerPath = std::filesystem::canonical(o.installer, pathError);
    if (pathError) installerPath = std::filesystem::absolute(o.installer).lexically_normal();
    mw::DetectPreviousInstallation(settings, mw::GetLocaleState().codePage,
                                   installerPath.string());
    std::string previousText;
    switch (settings.GetPreviousState(&previousText)) {
        case mw::PreviousInstallState::NewerVersion:
            return Refuse(mw::FormatMessageText(mw::LoadCatalogString(1103), {previousText}));
        case mw::PreviousInstallState::None:
            break;
        default:
            // The folder page is locked for an earlier installation.
            if (o.installFolder) {
                return Usage("--install-folder: the product is installed in " +
                             settings.installFolder + ", which an update keeps");
            }
    }
    if (o.installFolder) settings.installFolder = *o.installFolder;
    mw::ApplyDefaultFolders(settings);
    if (o.startMenuFolder) settings.startMenuFolder = *o.startMenuFolder;
    if (o.noStartMenu) settings.startMenuShortcut = false;
    if (o.noDesktop) settings.desktopShortcut = false;
    settings.advancedInstall = o.installFolder || o.startMenuFolder || o.noStartMenu || o.noDesktop;
    if (o.language) mw::OnLanguageChosen(*o.language);

    mwtool::ConsoleSurface surface(stdout, stderr);
    WriteSummary(surface, settings);
    settings.installed = mw::RunInstallation(surface, settings, source);
    surface.Finish();
    return settings.installed ? kInstalled : kFailed;
}

const mwtool::Command command{"install", kUsage, Install};

}  // namespace
