// The headless toolkit: dialogs that keep every control's state without a
// display, for tests and for runs with MW_HEADLESS=1. A test acts on them as
// a user would (click, type, choose, press keys, close); each action reaches
// the dialog's handler exactly as the real toolkit's events do, and the UI
// dump is written the same way.
//
// Fixed metrics, so that layouts and measured texts are predictable: base
// units 6 x 13 (as "MS Shell Dlg" 8 points at 96 dpi), every character 6
// pixels wide except a space (3) and "-" (4), lines 13 pixels high.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/controls.hpp"
#include "platform/dialog_base.hpp"

namespace mw::platform {

enum class Key { Enter, Escape, Tab, ShiftTab, Space, Up, Down, AltSpace };

class HeadlessToolkit;

class HeadlessDialog final : public DialogBase {
public:
    HeadlessDialog(HeadlessToolkit& toolkit, const DialogTemplate& dialog, HeadlessDialog* parent);
    ~HeadlessDialog() override;

    // ---- What a user does ----
    // A click on an enabled, visible control: a check box toggles, a radio
    // button checks itself and unchecks the others of its group.
    bool Click(int id);
    // Replaces an editable edit control's text (cut at its limit).
    bool Type(int id, const std::string& text);
    // Picks an item of a list, or a tree item.
    bool Choose(int id, int position);
    bool ChooseTreeItem(int id, TreeItem item);
    // Expands a tree item as a click on its expander does.
    bool ExpandByUser(int id, TreeItem item);
    // Keys go to the top-level window: Enter presses the default button,
    // Escape sends Cancel, Tab moves the focus (through child dialogs), Space
    // clicks the focused button, Up and Down move within a radio group,
    // Alt+Space asks for the window menu.
    void PressKey(Key key);
    // The window's close button.
    void CloseWindow();
    // One step of a script (HeadlessToolkit::steps); false when unknown.
    bool Perform(const std::string& step);
    // Whether a modal run has ended and with what.
    bool Ended() const { return ended_; }
    int Result() const { return result_; }
    const DialogTemplate& Template() const { return template_; }
    HeadlessDialog* Parent() const { return parent_; }
    // The top-level dialog above this one (itself when it is one).
    HeadlessDialog& TopLevel();

    // ---- Dialog ----
    void SetTitle(const std::string& title) override;
    std::string Title() const override;
    void SetIcon(const Image& icon) override;
    Rect Geometry() const override;
    void SetGeometry(const Rect& rect) override;
    int DialogUnitsX(int units) const override;
    int DialogUnitsY(int units) const override;
    int TextWidth(std::string_view text) const override;
    Rect MeasureText(std::string_view text, int wrapWidth) const override;
    void ShowDialog(bool shown) override;
    bool IsDialogShown() const override;
    int RunModal() override;
    void Minimize() override;
    void Restore() override;
    bool IsMinimized() const override;
    int PopupMenu(const std::vector<MenuItem>& items) override;
    void Dump() override;
    void SetWindowClass(const std::string& name) override;

    bool HasControl(int id) const override;
    void SetText(int id, const std::string& text) override;
    std::string Text(int id) const override;
    void Enable(int id, bool enabled) override;
    bool IsEnabled(int id) const override;
    void Show(int id, bool visible) override;
    bool IsVisible(int id) const override;
    void SetChecked(int id, bool checked) override;
    bool IsChecked(int id) const override;
    void SetReadOnly(int id, bool readOnly) override;
    bool IsReadOnly(int id) const override;
    void SetTextLimit(int id, int characters) override;
    Rect ControlRect(int id) const override;
    void SetControlRect(int id, const Rect& rect) override;
    void SetFocus(int id) override;
    int Focus() const override;
    void SetDefaultButton(int id) override;
    int DefaultButton() const override;
    int AddImage(int id, const Image& image) override;
    int InsertItem(int id, int position, const ListItem& item) override;
    int ItemCount(int id) const override;
    std::optional<ListItem> Item(int id, int position) const override;
    void ClearItems(int id) override;
    void SetSelection(int id, int position) override;
    int Selection(int id) const override;
    void SetDropWidth(int id, int pixels) override;
    int DropWidth(int id) const override;
    void AppendText(int id, const std::string& text) override;
    void ScrollToTop(int id) override;
    int TextAreaWidth(int id) const override;
    void SetProgress(int id, int percent) override;
    int Progress(int id) const override;

    // State a test may look at that the interface does not give.
    int ImageCount(int id) const;
    bool HasIcon() const { return hasIcon_; }
    // Whether a text was cut at the control's limit by Type.
    int TextLimit(int id) const;

    struct Control {
        DialogControl source;
        std::string text;
        bool enabled = true, visible = true, checked = false, readOnly = false;
        int limit = 0;
        Rect rect;
        int images = 0;
        std::vector<ListItem> items;
        int selection = -1;
        int dropWidth = 0;
        int progress = 0;
    };

private:
    friend class HeadlessToolkit;
    Control* Find(int id);
    const Control* Find(int id) const;
    DialogBase& TopLevelDialog() override { return TopLevel(); }
    bool IsTree(int id) const override;
    // Controls that Tab visits, in order, through the shown child dialogs.
    void CollectTabStops(std::vector<std::pair<HeadlessDialog*, int>>& out);
    void DumpInto(struct UiDumpWindow& dump, int dx, int dy) const;

    HeadlessToolkit& toolkit_;
    DialogTemplate template_;
    HeadlessDialog* parent_;
    std::vector<HeadlessDialog*> children_;
    std::vector<Control> controls_;
    std::string title_;
    std::string windowClass_ = "Dialog";
    Rect rect_;
    bool shown_ = false;
    bool minimized_ = false;
    bool hasIcon_ = false;
    int defaultButton_ = 0;
};

class HeadlessToolkit final : public UiToolkit {
public:
    std::unique_ptr<Dialog> CreateDialog(const DialogTemplate& dialog, Dialog* parent,
                                         Window* owner = nullptr) override;
    void PumpEvents() override;
    bool IsHeadless() const override { return true; }
    void SetImageSource(ImageSource source) override { images = std::move(source); }

    // What a modal run does: the next script acts on the dialog (as a user
    // would); a run whose script did not end it, or that has none, ends
    // with Cancel (2), as Escape would.
    using Script = std::function<void(HeadlessDialog&)>;
    std::deque<Script> modalScripts;
    // Answers of PopupMenu, in order; with none, the menu is dismissed (0).
    std::deque<int> menuAnswers;
    // Every menu shown, with its items as they were.
    std::vector<std::vector<MenuItem>> menusShown;
    // Titles of the modal runs, in order.
    std::vector<std::string> modalRuns;
    // Steps of a script that drives the modal runs the way a user at the
    // keyboard would (MW_UI_SCRIPT, separated by ';'): "key:Return",
    // "key:Escape", "key:Tab", "key:shift+Tab", "key:space", "key:Up",
    // "key:Down", "key:alt+space", "type:TEXT" (into the focused edit),
    // "click:ID", "close". A modal run performs steps until it ends; one
    // left without steps ends as its modal script says.
    std::deque<std::string> steps;
    static std::deque<std::string> ParseSteps(const std::string& script);
    // Called by PumpEvents (a test can act while a long operation runs).
    std::function<void()> onPump;
    ImageSource images;

    // The live dialogs, oldest first.
    const std::vector<HeadlessDialog*>& Dialogs() const { return dialogs_; }
    // The control with the keyboard focus.
    HeadlessDialog* focusDialog = nullptr;
    int focusId = 0;

private:
    friend class HeadlessDialog;
    std::vector<HeadlessDialog*> dialogs_;
};

}  // namespace mw::platform
