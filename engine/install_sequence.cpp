#include "engine/install_sequence.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_generators.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <cstdio>
#include <exception>
#include <functional>
#include <variant>

#include "app/errors.hpp"
#include "app/identity.hpp"
#include "app/install_settings.hpp"
#include "app/languages.hpp"
#include "app/text_format.hpp"
#include "engine/compress_error.hpp"
#include "engine/directx_setup.hpp"
#include "engine/payload_extractor.hpp"
#include "engine/payload_source.hpp"
#include "engine/shortcuts.hpp"
#include "engine/tokens.hpp"
#include "engine/uninstall_registration.hpp"
#include "journal/install_log.hpp"
#include "journal/security.hpp"
#include "platform/file_system.hpp"
#include "platform/path.hpp"
#include "platform/process.hpp"
#include "platform/roots.hpp"
#include "platform/safe_path.hpp"
#include "platform/trusted_path.hpp"

namespace mw {
namespace {

namespace msg {
constexpr uint32_t Next = 1006;
constexpr uint32_t Ok = 1011;
constexpr uint32_t Failed = 1012;
constexpr uint32_t Uninstall = 1013;
constexpr uint32_t Examples = 1018;
constexpr uint32_t ClickToContinue = 1106;
constexpr uint32_t Preparing = 1114;
constexpr uint32_t CopyingFile = 1115;
constexpr uint32_t RegistryData = 1118;
constexpr uint32_t InstallationData = 1119;
constexpr uint32_t InstallationFailed = 1121;
constexpr uint32_t DirectXUpdate = 1131;
}  // namespace msg

const std::string kLineEnd = "\r\n";

std::string Text(uint32_t id) {
    return LoadCatalogString(id);
}

std::string ResultWord(bool ok) {
    return Text(ok ? msg::Ok : msg::Failed) + kLineEnd;
}

std::string QuoteSpaces(const std::string& path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

bool Exists(const std::string& path) {
    std::error_code ec;
    platform::FileInfo info = platform::Files().Status(path, ec);
    return ec || info.type != platform::FileType::None;
}

[[noreturn]] void Fail(std::error_code code) {
    throw std::system_error(code);
}

// Whether something stands at a payload file's destination; when that cannot
// be told, the file fails (a guess either way could skip a new file or
// overwrite the user's).
bool StandsAt(const std::string& path) {
    std::error_code ec;
    platform::FileInfo info = platform::Files().Status(path, ec);
    if (ec) Fail(ec);
    return info.type != platform::FileType::None;
}

TemporaryFiles*& CurrentSlot() {
    static TemporaryFiles* current = nullptr;
    return current;
}

// The extraction callback: decides per entry what to record and show.
class ExtractionCallback {
public:
    ExtractionCallback(InstallSurface& surface, InstallSettings& settings, PayloadSource& source)
        : surface_(surface), settings_(settings), source_(source) {}

    notification::result operator()(const notification& n) {
        return std::visit([this](const auto& v) { return On(v); }, n.value);
    }

private:
    using R = notification::result;

    R On(const notification::Started&) {
        const std::string text = Text(msg::Preparing);
        surface_.SetStatus(text);
        surface_.AppendLog(text, false);
        if (!source_.Verify()) Fail(make_error_code(CompressError::VerificationFailed));
        source_.Rewind();
        surface_.AppendLog(ResultWord(true), false);
        return R::Continue;
    }

    R On(const notification::Finished&) { return R::Continue; }

    R On(const notification::EntryStarted& s) {
        const PayloadEntry& entry = s.entry;
        const std::string& destination = entry.destination;
        InstallJournal& journal = settings_.journal;
        const bool updating = settings_.previousState != PreviousInstallState::None;
        switch (entry.kind) {
            case PayloadKind::Program:
                surface_.programPath = destination;
                break;
            case PayloadKind::Uninstaller:
                surface_.uninstallerPath = destination;
                break;
            case PayloadKind::DataFile:
                if (updating && journal.WasInstalledBefore(destination)) {
                    GrantAccess(destination, access::FileReadWriteDelete, 0);
                    return R::Skip;
                }
                if (StandsAt(destination)) {
                    // The user's file stays as it is. When it cannot be saved
                    // for a rollback it is not opened to the users either, so
                    // that nothing about it changes.
                    if (journal.RecordFile(destination, static_cast<int32_t>(entry.kind), true)) {
                        journal.MarkResult(true);
                        GrantAccess(destination, access::FileReadWriteDelete, 0);
                    } else {
                        journal.MarkResult(false);
                    }
                    return R::Skip;
                }
                break;
            case PayloadKind::Texture:
                // An update keeps the textures the older version installed
                // (the user may have edited them); a new one still arrives.
                if (settings_.previousState == PreviousInstallState::OlderVersion &&
                    StandsAt(destination)) {
                    return R::Skip;
                }
                break;
            case PayloadKind::DirectXRedist:
                if (TemporaryFiles* temporary = TemporaryFiles::Current()) {
                    temporary->Add(destination);
                }
                break;
            default:
                break;
        }
        const std::string text =
            FormatMessageText(Text(msg::CopyingFile), {QuoteSpaces(destination)});
        if (entry.kind != PayloadKind::DirectXRedist) {
            const bool data = entry.kind == PayloadKind::DataFile;
            if (!journal.RecordFile(destination, static_cast<int32_t>(entry.kind), data)) {
                // Its folder could not be made, or what stands there could
                // not be saved: the file must not be written.
                Fail(std::error_code(EACCES, std::system_category()));
            }
        }
        surface_.SetStatusPath(text);
        surface_.AppendLog(text, false);
        return R::Continue;
    }

    R On(const notification::EntryDone& d) {
        const PayloadEntry& entry = d.entry;
        if (entry.kind == PayloadKind::DataFile) {
            GrantAccess(entry.destination, access::FileReadWriteDelete, 0);
        }
        if (entry.kind != PayloadKind::DirectXRedist &&
            settings_.journal.Pending()) {
            settings_.journal.MarkResult(true);
        }
        surface_.AppendLog(ResultWord(true), false);
        return R::Continue;
    }

    R On(const notification::Progress& p) {
        surface_.SetProgress(p.processed, p.total);
        return R::Continue;
    }

    R On(const notification::Failed& f) {
        if (settings_.journal.Pending()) settings_.journal.MarkResult(false);
        surface_.AppendLog(ResultWord(false), false);
        failure = f.code;
        surface_.SetStatus(
            FormatMessageText(Text(msg::InstallationFailed), {FailureCodeText(f.code)}));
        return R::Abort;
    }

    InstallSurface& surface_;
    InstallSettings& settings_;
    PayloadSource& source_;

public:
    std::error_code failure;
};

// Runs one later step; an exception inside it counts as its failure and
// ends its log line, and the sequence goes on.
void LaterStep(InstallSurface& surface, const std::function<void()>& step) {
    try {
        step();
    } catch (...) {
        surface.AppendLog(ResultWord(false), false);
    }
}

void MarkReadOnly(const std::string& path) {
    if (path.empty()) return;
    auto& fs = platform::Files();
    std::error_code ec;
    platform::FileInfo info = fs.Status(path, ec);
    if (ec || info.type != platform::FileType::Regular) return;
    fs.SetMode(path, info.mode & ~uint32_t(0222));
}

void RunDirectXStep(InstallSurface& surface, InstallSettings& settings) {
    DirectXSetupLibrary library(settings.tempFolder);
    if (!library.loaded()) return;
    if (!DirectXUpdateWanted(settings.previousState == PreviousInstallState::SameVersion,
                             settings.journal.PreviousEntries())) {
        return;
    }
    settings.journal.RecordDirectXUpdate();
    const std::string text = Text(msg::DirectXUpdate);
    surface.SetStatus(text);
    surface.AppendLog(text, false);
    bool outcome = false;
    try {
        outcome = library.Run([&surface] { surface.PumpEvents(); });
    } catch (...) {
        outcome = false;
    }
    settings.journal.MarkResult(outcome, text);
    surface.AppendLog(ResultWord(outcome), false);
}

// Runs a program of the system with its output discarded; failures ignored.
void RunQuietly(const std::vector<std::string>& argv) {
    if (platform::FindProgram(argv[0]).empty()) return;
    platform::UniqueFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    platform::ProcessOptions options;
    if (null) options.stdinFd = options.stdoutFd = options.stderrFd = null.get();
    int code = 0;
    (void)platform::RunProcess(argv, code, options);
}

// The shell's counterpart of "file associations changed": the MIME and
// launcher caches of the machine-wide folders are rebuilt.
void NotifyAssociationsChanged() {
    const std::string share = platform::UnderMachineRoot("usr/local/share");
    if (Exists(share + "/mime/packages")) RunQuietly({"update-mime-database", share + "/mime"});
    if (Exists(share + "/applications")) {
        RunQuietly({"update-desktop-database", share + "/applications"});
    }
}

// The program registers itself; the single-installer lock is let go for
// exactly as long as it runs, so that the program may count itself in.
bool RunRegistration(InstallSurface& surface, InstallSettings& settings) {
    InstallJournal& journal = settings.journal;
    journal.RecordRegistration();
    const std::string& program = surface.programPath;
    // Root starts nothing that another user could have replaced.
    if (program.empty() || !platform::OnlyAdministratorCouldWrite(program)) {
        journal.MarkResult(false);
        return false;
    }
    const RegistrationCommand command = MakeRegistrationCommand(program, settings.previousVersion);
    platform::NamedMutex* mutex = settings.instanceMutex.get();
    const bool wasOwned = mutex && mutex->owned();
    if (wasOwned) mutex->Release();
    platform::ChildProcess child;
    platform::ProcessOptions options;
    options.workingFolder = command.workingFolder;
    std::error_code ec = child.Start(command.argv, options);
    int exitCode = -1;
    bool exitedNormally = false;
    if (!ec) ec = child.Wait(exitCode, exitedNormally);
    if (wasOwned) mutex->TryAcquire();
    if (ec) {
        journal.MarkResult(false);
        return false;
    }
    const bool registered = exitedNormally && exitCode == kRegistrationSucceeded;
    journal.MarkResult(registered);
    if (registered) {
        surface.ShowWaitCursor(true);
        NotifyAssociationsChanged();
        surface.ShowWaitCursor(false);
    }
    return registered;
}

void RunRegistryStep(InstallSurface& surface, InstallSettings& settings) {
    const std::string text = Text(msg::RegistryData);
    surface.SetStatus(text);
    surface.AppendLog(text, false);
    UninstallInputs inputs;
    inputs.programPath = surface.programPath;
    inputs.uninstallerPath = surface.uninstallerPath;
    inputs.productLanguage = static_cast<uint32_t>(ProductLanguage());
    bool registrationOk = false;
    try {
        registrationOk = WriteUninstallRegistration(settings.journal, inputs);
    } catch (...) {
        registrationOk = false;
    }
    // The registration run happens whatever the key's outcome; the line
    // tells both.
    bool registered = false;
    try {
        registered = RunRegistration(surface, settings);
    } catch (...) {
        registered = false;
    }
    surface.AppendLog(ResultWord(registrationOk && registered), false);
}

void RunInstallLogStep(InstallSurface& surface, InstallSettings& settings) {
    const std::string text = Text(msg::InstallationData);
    surface.SetStatus(text);
    surface.AppendLog(text, false);
    const std::string logPath = InstallLogPath(surface.uninstallerPath);
    const bool written =
        !logPath.empty() &&
        settings.journal.WriteLog(logPath, settings.installFolder, settings.startMenuFolder);
    surface.AppendLog(ResultWord(written), false);
}

void RunLaterSteps(InstallSurface& surface, InstallSettings& settings) {
    // 12. The program and the uninstaller lose their write bits.
    LaterStep(surface, [&] {
        MarkReadOnly(surface.programPath);
        MarkReadOnly(surface.uninstallerPath);
    });
    // 13. Shortcuts.
    if (settings.startMenuShortcut || settings.desktopShortcut) {
        LaterStep(surface, [&] {
            ShortcutInputs inputs;
            inputs.startMenuShortcut = settings.startMenuShortcut;
            inputs.desktopShortcut = settings.desktopShortcut;
            inputs.programPath = surface.programPath;
            inputs.uninstallerPath = surface.uninstallerPath;
            inputs.startMenuFolder = settings.startMenuFolder;
            if (settings.desktopShortcut) inputs.desktopFolder = DesktopFolder();
            inputs.programName = ProductDisplayName(false);
            inputs.uninstallerName =
                FormatMessageText(Text(msg::Uninstall), {ProductDisplayName(true)});
            RunShortcutStep(surface, settings.journal, inputs);
        });
    }
    // 14. DirectX.
    LaterStep(surface, [&] { RunDirectXStep(surface, settings); });
    // 15, 16. Uninstall key and the program's registration run.
    LaterStep(surface, [&] { RunRegistryStep(surface, settings); });
    // 17. The install log.
    LaterStep(surface, [&] { RunInstallLogStep(surface, settings); });
}

// Rolls back after a failed extraction. What could not be put back is
// named in the log with the place of its backup.
void RollBackAfterFailure(InstallSurface& surface, InstallSettings& settings) {
    std::vector<UnrestoredItem> unrestored;
    try {
        unrestored = settings.journal.RollBack();
    } catch (...) {
    }
    // One line each: where the item belongs, where its backup lies, and the
    // result word; the texts themselves are paths.
    for (const UnrestoredItem& item : unrestored) {
        surface.AppendLog(item.path + " <- " + item.backupPath + "  " + ResultWord(false), false);
    }
}

}  // namespace

TemporaryFiles::TemporaryFiles(std::string folder)
    : folder_(std::move(folder)), previous_(CurrentSlot()) {
    CurrentSlot() = this;
}

TemporaryFiles::~TemporaryFiles() {
    CurrentSlot() = previous_;
    auto& fs = platform::Files();
    for (const std::string& file : files_) fs.RemoveFile(file);
    if (!folder_.empty()) fs.RemoveDirectory(folder_);
}

TemporaryFiles* TemporaryFiles::Current() {
    return CurrentSlot();
}

bool PrepareTempFolder(InstallSettings& settings, std::string& errorText) {
    char text[64];
    const std::string temp = platform::TempFolder();
    if (temp.empty() || temp[0] != '/') {
        std::snprintf(text, sizeof text, "%08x (%s)", Win32ErrorFromErrno(ENOENT), "GetTempPath");
        errorText = text;
        return false;
    }
    auto& fs = platform::Files();
    boost::uuids::random_generator generate;
    std::error_code ec;
    // A name that is taken already is never reused: another one is drawn.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string folder =
            platform::JoinPath(temp, "meridan_{" + boost::uuids::to_string(generate()) + "}");
        ec = fs.CreateDirectory(folder);
        if (ec == std::errc::file_exists) continue;
        if (!ec) ec = fs.SetMode(folder, 0700);
        if (ec) {
            fs.RemoveDirectory(folder);
            break;
        }
        settings.tempFolder = folder;
        return true;
    }
    std::snprintf(text, sizeof text, "%08x (%s)", Win32ErrorFromErrno(ec ? ec.value() : EEXIST),
                  "CreateDirectory");
    errorText = text;
    return false;
}

RegistrationCommand MakeRegistrationCommand(const std::string& programPath,
                                            uint64_t previousVersion) {
    RegistrationCommand command;
    command.argv = {programPath, "/Register", "/Background"};
    if (previousVersion != 0) {
        char text[40];
        std::snprintf(text, sizeof text, "/update=%016llx",
                      static_cast<unsigned long long>(previousVersion));
        command.argv.emplace_back(text);
    }
    command.workingFolder = platform::ParentPath(programPath);
    return command;
}

std::string InstallLogPath(const std::string& uninstallerPath) {
    const std::string folder = platform::ParentPath(uninstallerPath);
    if (folder.empty()) return {};
    return platform::JoinPath(folder, InstallLogFile::kFileName);
}

bool RunInstallation(InstallSurface& surface, InstallSettings& settings, PayloadSource& source) {
    // 1-4.
    surface.programPath.clear();
    surface.uninstallerPath.clear();
    surface.AppendLog("", true);
    surface.ShowWaitCursor(true);
    surface.SetStatus(Text(msg::Preparing));
    bool result = false;
    try {
        // 5.
        std::string errorText;
        if (!PrepareTempFolder(settings, errorText)) {
            surface.SetStatus(FormatMessageText(Text(msg::InstallationFailed), {errorText}));
            surface.AppendLog(errorText + kLineEnd, false);
            surface.ShowWaitCursor(false);
            return false;
        }
        // 6-8.
        const std::string sampleFolderName =
            FormatMessageText(Text(msg::Examples), {ProductDisplayName(true)});
        TemporaryFiles temporary(settings.tempFolder);
        surface.ShowProgress();
        // 9, 10.
        source.Rewind();
        ExtractionCallback callback(surface, settings, source);
        bool extracted = false;
        try {
            extracted =
                Extract(source, settings.installFolder, sampleFolderName, settings.tempFolder,
                        [&callback](const notification& n) { return callback(n); });
        } catch (...) {
            // Only the callback's own answers reach here; the extraction has
            // stopped all the same.
            surface.AppendLog(ResultWord(false), false);
            surface.SetStatus(FormatMessageText(
                Text(msg::InstallationFailed),
                {FailureCodeText(make_error_code(CompressError::UnexpectedError))}));
        }
        if (!extracted) {
            // 11.
            RollBackAfterFailure(surface, settings);
        } else {
            RunLaterSteps(surface, settings);
            // 18.
            surface.SetStatus(FormatMessageText(Text(msg::ClickToContinue), {Text(msg::Next)}));
            result = true;
        }
        // 19: the work folder goes with `temporary`.
    } catch (...) {
        // Nothing leaves the sequence: a failure outside every step (memory,
        // say) fails the installation, which is rolled back.
        if (!result) {
            RollBackAfterFailure(surface, settings);
            surface.SetStatus(FormatMessageText(
                Text(msg::InstallationFailed),
                {FailureCodeText(make_error_code(CompressError::UnexpectedError))}));
        }
    }
    surface.ShowWaitCursor(false);
    return result;
}

}  // namespace mw
