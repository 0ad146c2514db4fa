#include "app/install_app.hpp"

#include <cstdlib>
#include <mutex>

#include "app/app_services.hpp"
#include "app/detection.hpp"
#include "app/errors.hpp"
#include "app/identity.hpp"
#include "app/languages.hpp"
#include "app/preconditions.hpp"
#include "app/text_format.hpp"
#include "platform/message_box.hpp"
#include "platform/path.hpp"
#include "platform/roots.hpp"
#include "platform/system_info.hpp"

namespace mw {
namespace {

constexpr int kExitIncompatible = 1;
constexpr int kExitInitializationError = -11;

const char kIncompatibleText[] =
    "This Version is not compatible with your Configuration.\n\n"
    "Cette version n'est pas compatible avec votre configuration.\n\n"
    "Diese Version ist nicht mit Ihrer Konfiguration kompatibel.";

bool g_processorCapable = false;
std::unique_ptr<platform::InstanceCounter> g_counter;
CInstallApp* g_app = nullptr;

[[noreturn]] void FailInitialization() {
    platform::MessageBoxes().Show(
        nullptr, "Initialization Error", "",
        platform::mb::SetForeground | platform::mb::TaskModal | platform::mb::IconError);
    std::exit(kExitInitializationError);
}

CachedFolders ComputeCachedFolders() {
    CachedFolders f;
    f.commonMakerData = platform::JoinPath(platform::SpecialFolder(platform::csidl::CommonAppData),
                                           std::string(makerName));
    f.userMakerData = platform::JoinPath(platform::SpecialFolder(platform::csidl::AppData),
                                         std::string(makerName));
    f.documents = platform::DocumentsFolder();
    return f;
}

// Module start 1: the process locale. Module start 2: cached folders, the
// toolkit version, the identity and the instance count. Each runs once.
std::once_flag g_moduleStart1, g_moduleStart2;

void ModuleStart1() {
    std::call_once(g_moduleStart1, [] {
        if (!SetUpProcessLocale()) FailInitialization();
    });
}

void ModuleStart2() {
    ModuleStart1();
    std::call_once(g_moduleStart2, [] {
        GetCachedFolders();
        if (CommonControlsVersion() < kMinimumCommonControlsVersion) FailInitialization();
        const std::string& id = ApplicationId();
        if (id.empty()) FailInitialization();
        g_counter = std::make_unique<platform::InstanceCounter>(InstanceCounterName(id));
    });
}

}  // namespace

const CachedFolders& GetCachedFolders() {
    static const CachedFolders folders = ComputeCachedFolders();
    return folders;
}

CInstallApp::CInstallApp(WizardRunner wizard) : wizard_(std::move(wizard)) {
    settings.instanceMutex = std::make_unique<platform::NamedMutex>(
        InstanceMutexName(ApplicationId()), /*initialOwner=*/false, /*global=*/true);
}

bool CInstallApp::InitInstance() {
    // 1. The processor check of the static initialisation failed.
    if (!g_processorCapable) {
        ReportError(kEUnexpected);
        return false;
    }
    // 2. One installer at a time.
    if (!settings.instanceMutex || !settings.instanceMutex->TryAcquire()) {
        ReportError(kErrorBusy);
        return false;
    }
    // 4, 5. Interface language and title.
    ChooseLanguageAtStart();
    SetAppTitle(BuildTitle(true));
    // 6. Rights.
    if (!IsAdministrator()) {
        AppMessageBox(LoadCatalogString(1126), platform::mb::IconExclamation);
        return false;
    }
    // 7. The product must not run; every Retry counts again.
    while (ProductIsRunning(TheInstanceCounter())) {
        const std::string text =
            FormatMessageText(LoadCatalogString(1127), {ProductDisplayName(true)});
        if (AppMessageBox(text, platform::mb::IconExclamation | platform::mb::RetryCancel) !=
            platform::idc::Retry)
            return false;
    }
    // 8. An earlier installation gives its folders and its log.
    DetectPreviousInstallation(settings, GetLocaleState().codePage);
    // 9. Defaults for whatever is still empty.
    ApplyDefaultFolders(settings);
    // 10. The wizard, modally; closing it in any way ends the process.
    if (wizard_) wizard_(settings);
    return false;
}

int RunInstaller(WizardRunner wizard) {
    // Static initialisation, in the order the objects are created.
    g_processorCapable = platform::ProcessorSupportsSse2();
    if (!g_processorCapable) {
        platform::MessageBoxes().Show(nullptr, kIncompatibleText, "", platform::mb::IconError);
        return kExitIncompatible;
    }
    ModuleStart2();
    CInstallApp app(std::move(wizard));
    g_app = &app;
    app.InitInstance();
    g_app = nullptr;
    return 0;
}

CInstallApp& TheApp() {
    return *g_app;
}
platform::InstanceCounter& TheInstanceCounter() {
    return *g_counter;
}
bool ProcessorCapable() {
    return g_processorCapable;
}

}  // namespace mw
