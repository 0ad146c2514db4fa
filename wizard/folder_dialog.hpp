// The folder-browse dialog that the folder chooser (folder_browser.hpp)
// drives: template 138 with a lazily filled tree of real folders, an edit
// box for a typed folder, OK and Cancel. It tells the chooser when it has
// started, when the selection moves and when a typed text is confirmed, and
// obeys its requests to select or expand a folder and to fill the edit box.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/controls.hpp"
#include "wizard/folder_browser.hpp"
#include "wizard/folder_tree.hpp"

namespace mw {

namespace folder_dialog {
inline constexpr uint32_t kTemplate = 138;
inline constexpr int kTitle = 1050;
inline constexpr int kTree = 1051;
inline constexpr int kEdit = 1052;
}  // namespace folder_dialog

class CFolderDialog final : public BrowseDialog {
public:
    explicit CFolderDialog(platform::UiToolkit& ui);
    ~CFolderDialog() override;

    // Opens the dialog modally: the selected folder when the user confirmed,
    // nullopt when cancelled or when the dialog cannot be made (the error
    // box then says E_FAIL).
    std::optional<std::string> Run(const BrowseRequest& request, BrowseEvents& events);

    void SelectFolder(const std::string& path) override;
    void ExpandFolder(const std::string& path) override;
    bool HasEditBox() const override { return editBox_; }
    void SetEditText(const std::string& text) override;
    void EnableOk(bool enable) override;
    platform::Window* Window() override { return dialog_.get(); }

private:
    void OnEvent(const platform::ControlEvent& event);

    platform::UiToolkit& ui_;
    std::unique_ptr<platform::Dialog> dialog_;
    std::unique_ptr<CFolderTree> tree_;
    BrowseEvents* events_ = nullptr;
    bool editBox_ = false;
};

}  // namespace mw
