// The control model of our windows: a dialog built from a dialog template
// whose controls are addressed by their numeric ids, the way the wizard's
// pages, the About box, the folder chooser and the message boxes talk to
// them. Two toolkits implement it: the FLTK one (platform/ui, the only place
// that knows FLTK) and the headless one (headless_ui.hpp), which keeps the
// same state without a display so that tests can click, type, select and
// press keys. Both write the same UI dump (ui_dump.hpp).
//
// Geometry is in pixels; a control's rectangle is relative to its dialog's
// client area, a child dialog's rectangle relative to its parent's, a
// top-level dialog's on the screen. Dialog units of a template become pixels
// with the base units of the dialog's font: x * baseX / 4, y * baseY / 8.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialog_template.hpp"
#include "platform/image.hpp"

namespace mw::platform {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    int right() const { return x + w; }
    int bottom() const { return y + h; }
    bool operator==(const Rect&) const = default;
};

// The smallest rectangle holding both.
Rect Union(const Rect& a, const Rect& b);

// The command ids the dialog manager itself sends: Enter presses the default
// button (whose id is usually Ok), Escape and the window's close command
// send Cancel.
namespace cmd {
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
}  // namespace cmd

// System-menu commands, with the Windows numbers.
namespace sc {
inline constexpr int Size = 0xF000;
inline constexpr int Minimize = 0xF020;
inline constexpr int Maximize = 0xF030;
inline constexpr int Close = 0xF060;
inline constexpr int Restore = 0xF120;
}  // namespace sc

// The system's words for its window-menu items, in the system's language
// (English, as the system's message texts), with their access keys.
std::string SystemMenuText(int command);

// An item of a list control (the extended combo box): text, index in the
// control's image list (-1: none) and a value of the caller's.
struct ListItem {
    std::string text;
    int image = -1;
    int64_t value = 0;
    bool operator==(const ListItem&) const = default;
};

// A node of a tree control; 0 is the invisible root above the top items.
using TreeItem = int;
inline constexpr TreeItem kTreeRoot = 0;

struct MenuItem {
    int command = 0;  // 0: a separator
    std::string text;
    bool enabled = true;
};

// What a control tells its dialog.
enum class Notify {
    Clicked,           // a button, check box or radio button was pressed
    SelectionChanged,  // a list or tree selection moved (by the user)
    TextChanged,       // the user edited an edit control
    ItemExpanding,     // a tree item is about to show its children (item set)
    SystemMenu,        // the user asked for the window menu (Alt+Space, right-click)
    SysCommand,        // a system-menu command was chosen (item = the command)
};

struct ControlEvent {
    int id = 0;  // control id; cmd::Ok / cmd::Cancel for Enter / Escape / close
    Notify what = Notify::Clicked;
    int item = 0;  // tree item of ItemExpanding, command of SysCommand
};

// A top-level window of ours: the owner of message boxes and of modal
// dialogs opened from it.
class Window {
public:
    virtual ~Window() = default;
    virtual bool RightToLeftLayout() const { return false; }
};

class Dialog : public Window {
public:
    using Handler = std::function<void(const ControlEvent&)>;

    // The handler of every notification. Without one, Ok and Cancel end a
    // modal dialog with their id as its result, as a plain dialog does.
    virtual void SetHandler(Handler handler) = 0;

    // ---- The dialog itself ----
    virtual void SetTitle(const std::string& title) = 0;
    virtual std::string Title() const = 0;
    // The large window icon.
    virtual void SetIcon(const Image& icon) = 0;
    virtual Rect Geometry() const = 0;
    virtual void SetGeometry(const Rect& rect) = 0;
    // Pixels of a template's dialog units in this dialog's font.
    virtual int DialogUnitsX(int units) const = 0;
    virtual int DialogUnitsY(int units) const = 0;
    // Width of a text drawn in the dialog's font (controls use the same);
    // MeasureText wraps at `wrapWidth` (0: only at line ends) and gives the
    // width and height of the result.
    virtual int TextWidth(std::string_view text) const = 0;
    virtual Rect MeasureText(std::string_view text, int wrapWidth) const = 0;
    virtual void ShowDialog(bool shown) = 0;
    virtual bool IsDialogShown() const = 0;
    // Runs the dialog modally (shown, owner disabled) until EndDialog; returns
    // the result given there.
    virtual int RunModal() = 0;
    virtual void EndDialog(int result) = 0;
    virtual void Minimize() = 0;
    virtual void Restore() = 0;
    virtual bool IsMinimized() const = 0;
    // Shows a menu at the window's top-left corner; the chosen command, 0 for
    // none.
    virtual int PopupMenu(const std::vector<MenuItem>& items) = 0;
    // Writes the UI dump of the window now (when one is asked for).
    virtual void Dump() = 0;
    // The window's class in the dump and, on X, its WM_CLASS ("Dialog" until
    // set).
    virtual void SetWindowClass(const std::string& name) = 0;

    // ---- Controls, by id ----
    virtual bool HasControl(int id) const = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual std::string Text(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual bool IsEnabled(int id) const = 0;
    virtual void Show(int id, bool visible) = 0;
    virtual bool IsVisible(int id) const = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    virtual bool IsChecked(int id) const = 0;
    virtual void SetReadOnly(int id, bool readOnly) = 0;
    virtual bool IsReadOnly(int id) const = 0;
    // Most characters the user can type into an edit control (0: no limit).
    virtual void SetTextLimit(int id, int characters) = 0;
    virtual Rect ControlRect(int id) const = 0;
    virtual void SetControlRect(int id, const Rect& rect) = 0;
    virtual void SetFocus(int id) = 0;
    virtual int Focus() const = 0;  // 0 when no control of ours has it
    // The button that Enter presses; its old default loses the mark.
    virtual void SetDefaultButton(int id) = 0;
    virtual int DefaultButton() const = 0;

    // Lists: an image list per control, then items.
    virtual int AddImage(int id, const Image& image) = 0;  // its index, -1 on failure
    // Inserts before `position` (-1 or past the end: appends); returns the
    // item's position, -1 on failure.
    virtual int InsertItem(int id, int position, const ListItem& item) = 0;
    virtual int ItemCount(int id) const = 0;
    virtual std::optional<ListItem> Item(int id, int position) const = 0;
    virtual void ClearItems(int id) = 0;
    virtual void SetSelection(int id, int position) = 0;  // -1: none
    virtual int Selection(int id) const = 0;
    // Width of a list's dropped part in pixels.
    virtual void SetDropWidth(int id, int pixels) = 0;
    virtual int DropWidth(int id) const = 0;

    // Multi-line edit: appends at the end and scrolls to it; back to line 0.
    virtual void AppendText(int id, const std::string& text) = 0;
    virtual void ScrollToTop(int id) = 0;
    // Inner width of an edit control: its width less frame and margins.
    virtual int TextAreaWidth(int id) const = 0;

    // Progress bar, 0 to 100.
    virtual void SetProgress(int id, int percent) = 0;
    virtual int Progress(int id) const = 0;

    // Trees. `hasChildren` shows an expander before the children are known;
    // expanding such an item sends ItemExpanding so that its owner fills it.
    virtual TreeItem InsertTreeItem(int id, TreeItem parent, const std::string& text,
                                    bool hasChildren) = 0;
    virtual std::vector<TreeItem> TreeChildren(int id, TreeItem parent) const = 0;
    virtual TreeItem TreeParent(int id, TreeItem item) const = 0;
    virtual std::string TreeItemText(int id, TreeItem item) const = 0;
    virtual void DeleteTreeChildren(int id, TreeItem parent) = 0;
    virtual void ExpandTreeItem(int id, TreeItem item, bool expanded) = 0;
    virtual bool IsTreeItemExpanded(int id, TreeItem item) const = 0;
    virtual void SelectTreeItem(int id, TreeItem item) = 0;  // 0: none
    virtual TreeItem SelectedTreeItem(int id) const = 0;
};

// Where the pictures of Bitmap and Icon controls come from: the resource
// `imageId` of that kind. An Icon control with image 0 shows the stock icon
// its text names ("error", "question", "exclamation", "information").
using ImageSource = std::function<std::optional<Image>(ControlKind kind, uint32_t imageId)>;

// Makes dialogs. `parent` null: a top-level window (owned, for modality, by
// `owner`); otherwise a child dialog placed inside the parent's client area,
// hidden until shown.
class UiToolkit {
public:
    virtual ~UiToolkit() = default;
    virtual std::unique_ptr<Dialog> CreateDialog(const DialogTemplate& dialog, Dialog* parent,
                                                 Window* owner = nullptr) = 0;
    // Handles the events that are waiting, without waiting for more.
    virtual void PumpEvents() = 0;
    virtual bool IsHeadless() const = 0;
    virtual void SetImageSource(ImageSource source) = 0;
};

// The process-wide toolkit: the one a test installed; else the headless one
// when the environment asks for it (MW_HEADLESS=1, driven by MW_UI_SCRIPT)
// or no user interface was installed; else the installed interactive one.
UiToolkit& Ui();
void SetUiForTesting(UiToolkit* toolkit);
// Installed once at start-up by the program's user-interface layer.
void SetInteractiveToolkit(UiToolkit* toolkit);

// A button's label as the user reads it: '&' marks the access key, "&&" is
// a plain '&'.
std::string ReadableLabel(std::string_view label);

// FLTK reads '@' in a label as a symbol and shows CR as "^M": the label
// form of a text, with "@@" and CR LF or CR as LF.
std::string ToLabelText(std::string_view text);

}  // namespace mw::platform
