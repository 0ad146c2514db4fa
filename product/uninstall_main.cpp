// The product's uninstaller. It reads the install log beside itself, makes
// sure it may act (a log no other user could have written when it runs as
// root, no other installer or uninstaller, the product not running), asks
// for confirmation, lets the program undo its registration and removes what
// the log lists.
//
//   Uninstall [--quiet] [--remove-data]
//
// --quiet answers the confirmation with yes and prints to the terminal
// instead of showing boxes; --remove-data removes the product's data files
// as well. Exit status: 0 everything was removed, 1 some items could not
// be, 2 usage, 3 refused or cancelled (nothing was changed).
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/identity.hpp"
#include "app/languages.hpp"
#include "app/preconditions.hpp"
#include "app/text_format.hpp"
#include "journal/install_log.hpp"
#include "platform/elevation.hpp"
#include "platform/locale.hpp"
#include "platform/locks.hpp"
#include "platform/message_box.hpp"
#include "platform/path.hpp"
#include "platform/program_path.hpp"
#include "platform/secure_startup.hpp"
#include "platform/trusted_path.hpp"
#include "platform/ui/fltk_ui.hpp"
#include "product/product_texts.hpp"
#include "product/uninstall.hpp"

namespace {

using mw::product::Text;
namespace mb = mw::platform::mb;

constexpr int kComplete = 0;
constexpr int kIncomplete = 1;
constexpr int kUsage = 2;
constexpr int kRefused = 3;

struct Options {
    bool quiet = false;
    bool removeData = false;
};

class Session {
public:
    Session(const Options& options, int32_t language) : options_(options), language_(language) {}

    std::string TextOf(Text id, std::initializer_list<std::string_view> args = {}) const {
        return mw::FormatMessageText(mw::product::ProductTextIn(language_, id), args);
    }
    std::string Caption() const {
        return TextOf(Text::UninstallTitle, {mw::ProductDisplayName(false)});
    }

    // A message that ends the run.
    void Tell(const std::string& text, uint32_t icon) const {
        if (options_.quiet)
            std::fprintf(stderr, "%s\n", text.c_str());
        else
            mw::platform::MessageBoxes().Show(nullptr, text, Caption(), icon);
    }

    // True once the product no longer runs; false when the user cancels
    // (or, quiet, at once).
    bool WaitForProduct(mw::platform::InstanceCounter& counter) const {
        while (mw::ProductIsRunning(counter)) {
            const std::string text = TextOf(Text::Running, {mw::ProductDisplayName(false)});
            if (options_.quiet) {
                std::fprintf(stderr, "%s\n", text.c_str());
                return false;
            }
            if (mw::platform::MessageBoxes().Show(nullptr, text, Caption(),
                                                  mb::IconExclamation | mb::RetryCancel) !=
                mw::platform::idc::Retry)
                return false;
        }
        return true;
    }

    bool Confirm() const {
        std::string text = TextOf(Text::Confirm, {mw::ProductDisplayName(false)});
        if (options_.removeData) text += "\n\n" + TextOf(Text::ConfirmData);
        if (options_.quiet) {
            std::printf("%s yes\n", text.c_str());
            return true;
        }
        return mw::platform::MessageBoxes().Show(nullptr, text, Caption(),
                                                 mb::IconQuestion | mb::YesNo) ==
               mw::platform::idc::Yes;
    }

    void Report(const mw::product::UninstallPlan& plan,
                const mw::product::UninstallReport& report) const {
        const std::string product = mw::ProductDisplayName(false);
        if (options_.quiet) {
            for (const std::string& item : report.removed)
                std::printf("removed\t%s\n", item.c_str());
            for (const std::string& item : plan.kept) std::printf("kept\t%s\n", item.c_str());
            for (const auto& [item, why] : report.failed)
                std::fprintf(stderr, "not removed\t%s\t%s\n", item.c_str(), why.c_str());
            std::printf(
                "%s\n",
                TextOf(report.complete() ? Text::Done : Text::Incomplete, {product}).c_str());
            return;
        }
        std::string text = TextOf(report.complete() ? Text::Done : Text::Incomplete, {product});
        for (const auto& [item, why] : report.failed) text += "\n" + item + " (" + why + ")";
        if (!plan.kept.empty()) {
            text += "\n\n" + TextOf(Text::KeptData);
            for (const std::string& item : plan.kept) text += "\n" + item;
        }
        mw::platform::MessageBoxes().Show(
            nullptr, text, Caption(),
            report.complete() ? mb::IconInformation : mb::IconExclamation);
    }

private:
    Options options_;
    int32_t language_;
};

int Run(const Options& options) {
    const std::string id = mw::ApplicationId();
    mw::platform::InstanceCounter counter(mw::InstanceCounterName(id));
    const int32_t language = mw::product::ProductLanguage();
    Session session(options, language);

    mw::platform::NamedMutex lock(mw::InstanceMutexName(id), /*initialOwner=*/false,
                                  /*global=*/true);
    if (!lock.TryAcquire()) {
        session.Tell(session.TextOf(Text::Busy), mb::IconError);
        return kRefused;
    }

    const std::string self = mw::platform::ProgramPath();
    if (self.empty()) return kRefused;
    const std::string logPath =
        mw::platform::JoinPath(mw::platform::ParentPath(self), mw::InstallLogFile::kFileName);
    // As root only a log that nobody else could have written or planted is
    // believed: it decides what root removes.
    const bool trusted =
        !mw::platform::IsAdministrator() || mw::platform::OnlyAdministratorCouldWrite(logPath);
    const mw::InstallLogContents log =
        trusted ? mw::InstallLogFile::Read(
                      logPath, mw::platform::AnsiCodePage(mw::LanguageToLangId(language)))
                : mw::InstallLogContents{};
    if (!trusted || log.version != 1 || log.end != mw::InstallLogContents::End::EndOfFile) {
        session.Tell(session.TextOf(Text::LogUnusable, {logPath}), mb::IconError);
        return kRefused;
    }

    if (!session.WaitForProduct(counter)) return kRefused;
    if (!session.Confirm()) return kRefused;
    // The product may have been started while the question was open.
    if (!session.WaitForProduct(counter)) return kRefused;

    const mw::product::UninstallPlan plan =
        mw::product::PlanUninstall(log.entries, logPath, self, options.removeData);
    const mw::product::UninstallReport report = mw::product::CarryOut(plan);
    session.Report(plan, report);
    return report.complete() ? kComplete : kIncomplete;
}

}  // namespace

int main(int argc, char** argv) {
    mw::platform::InstallFltkUserInterface();
    // Runs as root: nothing it creates may be writable by others, and the
    // machine root must be one no other user could have prepared.
    if (std::string refused = mw::platform::SecureStartup(); !refused.empty()) {
        std::fprintf(stderr, "%s\n", refused.c_str());
        return kRefused;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    for (const std::string& arg : args) {
        if (arg == "--quiet")
            options.quiet = true;
        else if (arg == "--remove-data")
            options.removeData = true;
        else {
            std::fprintf(stderr, "usage: Uninstall [--quiet] [--remove-data]\n");
            return kUsage;
        }
    }
    if (auto code = mw::platform::OfferElevation(args)) return *code;
    return Run(options);
}
