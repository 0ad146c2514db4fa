// The install sequence: the one synchronous routine that performs a whole
// installation on a surface (the wizard's progress page, the console of the
// unattended install, a transcript in tests). It prepares a private work
// folder, extracts and checks every payload file under the journal, and, when
// that succeeded, runs the later steps: read-only marking, shortcuts, the
// DirectX update, the uninstall registration, the program's own registration
// run and the install log. A failed extraction is rolled back; a failed later
// step only ends its log line with "Failed". Nothing escapes as an exception.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/install_surface.hpp"

namespace mw {

struct InstallSettings;
class PayloadSource;

// The work folder and the files written into it (the DirectX files). While
// the sequence runs it is the current one, so that the extraction can add to
// it; destroyed, it deletes every listed file and then the folder, ignoring
// failures (a folder that is not empty stays).
class TemporaryFiles {
public:
    explicit TemporaryFiles(std::string folder);
    ~TemporaryFiles();
    TemporaryFiles(const TemporaryFiles&) = delete;
    TemporaryFiles& operator=(const TemporaryFiles&) = delete;

    void Add(const std::string& path) { files_.push_back(path); }
    const std::string& folder() const { return folder_; }
    const std::vector<std::string>& files() const { return files_; }

    // The current one; nullptr outside a sequence.
    static TemporaryFiles* Current();

private:
    std::string folder_;
    std::vector<std::string> files_;
    TemporaryFiles* previous_;
};

// Makes the work folder "<temp>/meridan_{uuid}" (a new random version-4
// UUID), created here exclusively with mode 0700, never an existing one, and
// stores it in tempFolder. On failure `errorText` is "%08x (%s)": the error
// as a Windows code in 8 lower-case hexadecimal digits, then the operation
// that failed ("GetTempPath" when there is no temporary folder).
bool PrepareTempFolder(InstallSettings& settings, std::string& errorText);

// The argument vector and working folder of the program's registration run:
// {program, "/Register", "/Background"} and, for an earlier version other
// than 0, "/update=" with that version as 16 lower-case hexadecimal digits.
struct RegistrationCommand {
    std::vector<std::string> argv;
    std::string workingFolder;
    bool operator==(const RegistrationCommand&) const = default;
};
RegistrationCommand MakeRegistrationCommand(const std::string& programPath,
                                            uint64_t previousVersion);

// The exit status by which the program reports a successful registration
// (-10 as an 8-bit status).
inline constexpr int kRegistrationSucceeded = 246;

// "Uninstall.ulog" beside the uninstaller; empty when the path has no folder.
std::string InstallLogPath(const std::string& uninstallerPath);

// The whole installation. `source` is the opened payload; it is rewound
// before use. True when the files were installed (later steps may have
// failed, each shown in the log); false when the work folder could not be
// made or the extraction failed, after which everything was rolled back.
bool RunInstallation(InstallSurface& surface, InstallSettings& settings, PayloadSource& source);

}  // namespace mw
