#include "wizard/page.hpp"

#include "platform/image.hpp"
#include "platform/resources.hpp"

namespace mw {
namespace {

const platform::ResourceBundle* g_testResources = nullptr;

}  // namespace

const platform::ResourceBundle& WizardResources() {
    return g_testResources ? *g_testResources : platform::OwnResources();
}

void SetWizardResourcesForTesting(const platform::ResourceBundle* bundle) {
    g_testResources = bundle;
}

std::optional<platform::DialogTemplate> LoadWizardTemplate(uint32_t id) {
    return platform::LoadDialogTemplate(WizardResources(), id);
}

platform::ImageSource WizardImages() {
    return [](platform::ControlKind kind, uint32_t id) -> std::optional<platform::Image> {
        if (kind == platform::ControlKind::Bitmap)
            return platform::LoadBitmapResource(WizardResources(), id);
        if (kind == platform::ControlKind::Icon)
            return platform::LoadIconResource(WizardResources(), id, 32, 32);
        return std::nullopt;
    };
}

void ApplyStretch(platform::Dialog& dialog, const StretchRule& rule, int dw, int dh) {
    auto change = [&dialog](const std::vector<int>& ids, int dx, int dy, int dwidth, int dheight) {
        for (int id : ids) {
            platform::Rect r = dialog.ControlRect(id);
            dialog.SetControlRect(id, {r.x + dx, r.y + dy, r.w + dwidth, r.h + dheight});
        }
    };
    change(rule.wider, 0, 0, dw, 0);
    change(rule.moveRight, dw, 0, 0, 0);
    change(rule.taller, 0, 0, 0, dh);
    change(rule.moveDown, 0, dh, 0, 0);
}

CWizardPage::CWizardPage(uint32_t templateId, InstallSettings& settings, platform::UiToolkit& ui)
    : settings_(settings), ui_(ui), templateId_(templateId) {}

CWizardPage::~CWizardPage() = default;

bool CWizardPage::Create(platform::Dialog& host) {
    std::optional<platform::DialogTemplate> dialog = LoadWizardTemplate(templateId_);
    if (!dialog) return false;
    host_ = &host;
    dialog_ = ui_.CreateDialog(*dialog, &host);
    dialog_->SetHandler([this](const platform::ControlEvent& event) { OnCommand(event); });
    return OnInitDialog();
}

bool CWizardPage::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CWizardPage::OnCommand(const platform::ControlEvent&) {}

}  // namespace mw
