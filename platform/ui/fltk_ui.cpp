#include "platform/ui/fltk_ui.hpp"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Multi_Label.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Tree.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <bitset>
#include <cstring>
#include <map>
#include <memory>

#include "platform/dialog_base.hpp"
#include "platform/ui/fltk_setup.hpp"
#include "platform/ui_dump.hpp"

namespace mw::platform {
namespace {

constexpr int kFontSize = 12;
// Japanese has no glyphs in DejaVu Sans; FLTK draws a string in one font.
constexpr Fl_Font kCjkFont = FL_FREE_FONT;

// The font a text needs: the CJK one when it holds CJK characters.
Fl_Font FontFor(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // Lead bytes of U+3000..U+9FFF and of the half-width forms.
        if (c == 0xE3 || (c >= 0xE4 && c <= 0xE9) || c == 0xEF) return kCjkFont;
    }
    return FL_HELVETICA;
}

// ---- Keys that must not act ----
// A key that is already down when one of our windows is shown was pressed
// for the window before (an Enter that opened a box, a key held while a
// window opens); it is kept from the new window until it has been released.
// A held Enter, Escape or Space repeating does not press again either: each
// press of those keys answers one window at the most.
struct KeyGuard {
    std::bitset<256> down;   // pressed, as we saw it
    std::bitset<256> stale;  // down when a window was shown, not released since
};

KeyGuard& Keys() {
    static KeyGuard keys;
    return keys;
}

bool ActsOnce(const XKeyEvent& key) {
    XKeyEvent copy = key;
    const KeySym sym = XLookupKeysym(&copy, 0);
    return sym == XK_Return || sym == XK_KP_Enter || sym == XK_Escape || sym == XK_space;
}

std::bitset<256> KeysOf(const char (&map)[32]) {
    std::bitset<256> keys;
    for (unsigned code = 0; code < 256; ++code)
        if (map[code / 8] & (1 << (code % 8))) keys.set(code);
    return keys;
}

int FilterKeys(void* event, void*) {
    const XEvent& e = *static_cast<const XEvent*>(event);
    KeyGuard& keys = Keys();
    if (e.type == KeymapNotify) {
        // The keys as they are when one of our windows gets the focus: a
        // release that went to another window (ours had closed on the
        // press) is not missed.
        const std::bitset<256> now = KeysOf(e.xkeymap.key_vector);
        keys.down &= now;
        keys.stale &= now;
        return 0;
    }
    if (e.type != KeyPress && e.type != KeyRelease) return 0;
    const unsigned code = e.xkey.keycode & 0xFF;
    if (e.type == KeyRelease) {
        // FLTK still sees the release, so that its own idea of the keys
        // held stays right.
        keys.down.reset(code);
        keys.stale.reset(code);
        return 0;
    }
    if (keys.stale.test(code)) return 1;
    const bool repeat = keys.down.test(code);
    keys.down.set(code);
    return repeat && ActsOnce(e.xkey) ? 1 : 0;
}

// Called as a window is shown: the keys down now are not for it.
void MarkHeldKeysStale() {
    char map[32] = {};
    XQueryKeymap(fl_display, map);
    KeyGuard& keys = Keys();
    keys.down = keys.stale = KeysOf(map);
}

void SetUpFonts() {
    static bool done = false;
    if (done) return;
    done = true;
    // A held key then repeats as presses alone, without a release between
    // them, which is how the guard tells a repeat from a new press.
    XkbSetDetectableAutoRepeat(fl_display, True, nullptr);
    Fl::add_system_handler(FilterKeys, nullptr);
    Fl::set_font(kCjkFont, " IPAGothic");
    Fl::background(240, 240, 240);
    Fl::visible_focus(1);
}

// "@" starts a symbol in FLTK labels; for buttons '&' stays the access key,
// elsewhere it is shown as it is ("&&" for FLTK).
std::string LabelOf(const std::string& text, bool accessKeys) {
    std::string label = ToLabelText(text);
    if (accessKeys) return label;
    std::string out;
    for (char c : label) {
        out += c;
        if (c == '&') out += '&';
    }
    return out;
}

class CFltkDialog;

// The top-level dialogs whose modal loops run, innermost last.
std::vector<CFltkDialog*>& ModalRuns() {
    static std::vector<CFltkDialog*> runs;
    return runs;
}

struct Control {
    DialogControl source;
    Fl_Widget* widget = nullptr;
    std::string text;
    bool enabled = true, visible = true, checked = false, readOnly = false;
    int limit = 0;
    // Pictures, kept alive as long as the widgets draw them.
    std::optional<Image> picture;
    std::unique_ptr<Fl_RGB_Image> pictureImage;
    std::vector<Image> images;
    std::vector<std::unique_ptr<Fl_RGB_Image>> imageViews;
    std::vector<ListItem> items;
    int selection = -1;
    int dropWidth = 0;
    int progress = 0;
    std::unique_ptr<Fl_Text_Buffer> buffer;
    // The widget's item of each of the tree's items.
    std::map<TreeItem, Fl_Tree_Item*> tree;
    std::string stockIcon;
};

struct WidgetLink {
    CFltkDialog* dialog;
    int id;
};

class CDialogWindow;

class CFltkDialog final : public DialogBase {
public:
    CFltkDialog(const DialogTemplate& dialog, CFltkDialog* parent);
    ~CFltkDialog() override;

    using DialogBase::Send;
    void SetTitle(const std::string& title) override;
    std::string Title() const override { return title_; }
    void SetIcon(const Image& icon) override;
    Rect Geometry() const override;
    void SetGeometry(const Rect& rect) override;
    int DialogUnitsX(int units) const override { return units * baseX_ / 4; }
    int DialogUnitsY(int units) const override { return units * baseY_ / 8; }
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

    bool HasControl(int id) const override { return Find(id) != nullptr; }
    void SetText(int id, const std::string& text) override;
    std::string Text(int id) const override;
    void Enable(int id, bool enabled) override;
    bool IsEnabled(int id) const override {
        const Control* c = Find(id);
        return c && c->enabled;
    }
    void Show(int id, bool visible) override;
    bool IsVisible(int id) const override {
        const Control* c = Find(id);
        return c && c->visible;
    }
    void SetChecked(int id, bool checked) override;
    bool IsChecked(int id) const override;
    void SetReadOnly(int id, bool readOnly) override;
    bool IsReadOnly(int id) const override {
        const Control* c = Find(id);
        return c && c->readOnly;
    }
    void SetTextLimit(int id, int characters) override;
    Rect ControlRect(int id) const override;
    void SetControlRect(int id, const Rect& rect) override;
    void SetFocus(int id) override;
    int Focus() const override;
    void SetDefaultButton(int id) override;
    int DefaultButton() const override { return defaultButton_; }
    int AddImage(int id, const Image& image) override;
    int InsertItem(int id, int position, const ListItem& item) override;
    int ItemCount(int id) const override {
        const Control* c = Find(id);
        return c ? static_cast<int>(c->items.size()) : 0;
    }
    std::optional<ListItem> Item(int id, int position) const override;
    void ClearItems(int id) override;
    void SetSelection(int id, int position) override;
    int Selection(int id) const override {
        const Control* c = Find(id);
        return c ? c->selection : -1;
    }
    void SetDropWidth(int id, int pixels) override {
        if (Control* c = Find(id)) c->dropWidth = pixels;
    }
    int DropWidth(int id) const override {
        const Control* c = Find(id);
        return c ? c->dropWidth : 0;
    }
    void AppendText(int id, const std::string& text) override;
    void ScrollToTop(int id) override;
    int TextAreaWidth(int id) const override;
    void SetProgress(int id, int percent) override;
    int Progress(int id) const override {
        const Control* c = Find(id);
        return c ? c->progress : 0;
    }

    // ---- For the widgets ----
    // Sends the event from the event loop once the widget's own handling
    // (a mouse release, say) has finished: a handler that runs a modal
    // dialog must not run inside a button's release, or FLTK keeps
    // delivering the mouse to the pressed button and the dialog gets none.
    void Post(const ControlEvent& event);
    Control* Find(int id);
    const Control* Find(int id) const;
    CFltkDialog& TopLevel() {
        CFltkDialog* d = this;
        while (d->parent_) d = d->parent_;
        return *d;
    }
    bool IsDefault(int id) const { return id != 0 && TopLevelConst().defaultButton_ == id; }
    const CFltkDialog& TopLevelConst() const {
        const CFltkDialog* d = this;
        while (d->parent_) d = d->parent_;
        return *d;
    }
    // The default button of the window, through the pages; null when none
    // is enabled.
    Fl_Widget* DefaultWidget();
    // Our control behind a widget (in this dialog or a child), or null.
    Control* ControlOf(Fl_Widget* widget, CFltkDialog** owner);
    void OpenList(int id);
    void TreeCallback(int id, Fl_Tree* tree);
    bool IsBanner(int x, int y);
    Fl_Group* group() const { return group_; }
    bool running() const { return running_; }
    int BaseY() const { return baseY_; }

private:
    DialogBase& TopLevelDialog() override { return TopLevel(); }
    bool IsTree(int id) const override {
        const Control* c = Find(id);
        return c && c->source.kind == ControlKind::Tree;
    }
    void TreeItemInserted(int id, TreeItem parent, TreeItem item, const std::string& text,
                          bool hasChildren) override;
    void TreeItemsDeleted(int id, TreeItem parent, const std::vector<TreeItem>& items) override;
    void TreeItemExpanded(int id, TreeItem item, bool expanded) override;
    void TreeItemSelected(int id, TreeItem item) override;
    void BuildControl(const DialogControl& source);
    void TakeKeyboard();
    void RevealTreeSelections();
    void ApplyLabel(Control& c);
    void DumpInto(UiDumpWindow& dump, int dx, int dy);
    int OriginX() const { return parent_ ? group_->x() : 0; }
    int OriginY() const { return parent_ ? group_->y() : 0; }
    TreeItem TreeIdOf(const Control& c, Fl_Tree_Item* item) const;

    struct Posted {
        CFltkDialog* dialog;
        ControlEvent event;
    };
    static void DeliverPosted(void* data);
    std::vector<std::unique_ptr<Posted>> posted_;

    DialogTemplate template_;
    CFltkDialog* parent_;
    std::vector<CFltkDialog*> children_;
    CDialogWindow* window_ = nullptr;  // top-level only
    Fl_Group* group_ = nullptr;        // the window itself, or the page's group
    std::vector<std::unique_ptr<Control>> controls_;
    std::vector<std::unique_ptr<WidgetLink>> links_;
    std::string title_;
    std::string windowClass_ = "Dialog";
    std::optional<Image> icon_;
    std::unique_ptr<Fl_RGB_Image> iconImage_;
    int baseX_ = 6, baseY_ = 13;
    int defaultButton_ = 0;
    bool placed_ = false;
};

// ---- Widgets ----

class CDialogWindow : public Fl_Double_Window {
public:
    CDialogWindow(CFltkDialog& owner, int w, int h) : Fl_Double_Window(w, h), owner_(owner) {}

    // The keyboard still reaches the control that had the focus after
    // another window took the X focus away (FLTK then has no focused widget).
    int handle(int event) override {
        if (Fl::focus() && contains(Fl::focus()) && Fl::focus() != this) current_ = Fl::focus();
        if (event == FL_FOCUS && current_ && current_->visible_r() && current_->take_focus())
            return 1;
        if ((event == FL_KEYBOARD || event == FL_SHORTCUT) && current_ && !contains(Fl::focus()) &&
            current_->visible_r() && current_->active_r()) {
            current_->take_focus();
        }
        if (event == FL_KEYBOARD || event == FL_SHORTCUT) {
            const int key = Fl::event_key();

            // Posted, as clicks are: what they start (the exit question, the
            // window menu) runs after the key's own handling, not inside it.
            if (key == FL_Escape) {
                owner_.Post({cmd::Cancel, Notify::Clicked, 0});
                return 1;
            }
            if (key == ' ' && (Fl::event_state() & FL_ALT)) {
                owner_.Post({0, Notify::SystemMenu, 0});
                return 1;
            }
            if (event == FL_SHORTCUT && (key == FL_Enter || key == FL_KP_Enter)) {
                if (Fl_Widget* w = owner_.DefaultWidget()) {
                    w->do_callback();
                    return 1;
                }
                return 1;
            }
            const int handled = Fl_Double_Window::handle(event);
            if (handled) owner_.Dump();
            return handled;
        }
        if (event == FL_PUSH && Fl::event_button() == FL_RIGHT_MOUSE &&
            owner_.IsBanner(Fl::event_x(), Fl::event_y())) {
            owner_.Send({0, Notify::SystemMenu, 0});
            return 1;
        }
        return Fl_Double_Window::handle(event);
    }

private:
    CFltkDialog& owner_;
    Fl_Widget* current_ = nullptr;
};

WidgetLink* LinkOf(Fl_Widget* w) {
    return static_cast<WidgetLink*>(w->user_data());
}

void OnWidget(Fl_Widget* w, void* data) {
    auto* link = static_cast<WidgetLink*>(data);
    Control* c = link->dialog->Find(link->id);
    if (!c) return;
    switch (c->source.kind) {
        case ControlKind::CheckBox:
            c->checked = static_cast<Fl_Button*>(w)->value() != 0;
            link->dialog->Post({link->id, Notify::Clicked, 0});
            break;
        case ControlKind::Edit:
            c->text = static_cast<Fl_Input*>(w)->value();
            link->dialog->Post({link->id, Notify::TextChanged, 0});
            break;
        case ControlKind::Tree:
            link->dialog->TreeCallback(link->id, static_cast<Fl_Tree*>(w));
            break;
        default:
            link->dialog->Post({link->id, Notify::Clicked, 0});
    }
}

// A push button: Enter presses it when it has the focus, as in the system's
// dialogs, and the default button wears a dark frame.
class CPushButton : public Fl_Button {
public:
    CPushButton(int x, int y, int w, int h) : Fl_Button(x, y, w, h) {}
    int handle(int event) override {
        if (event == FL_KEYBOARD && Fl::focus() == this &&
            (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
            do_callback();
            return 1;
        }
        if (event == FL_FOCUS || event == FL_UNFOCUS) redraw();
        return Fl_Button::handle(event);
    }
    void draw() override {
        Fl_Button::draw();
        WidgetLink* link = LinkOf(this);
        if (link && link->dialog->IsDefault(link->id) && active_r()) {
            fl_color(fl_rgb_color(0, 84, 153));
            fl_rect(x(), y(), w(), h());
            if (Fl::focus() == this) fl_rect(x() + 1, y() + 1, w() - 2, h() - 2);
        }
    }
};

// An automatic radio button: a click checks it and unchecks the others of
// its group; Up and Down move the check within the group.
class CRadioButton : public Fl_Round_Button {
public:
    CRadioButton(int x, int y, int w, int h) : Fl_Round_Button(x, y, w, h) {}
    int handle(int event) override;
};

class CCheckBox : public Fl_Check_Button {
public:
    CCheckBox(int x, int y, int w, int h) : Fl_Check_Button(x, y, w, h) {}
    int handle(int event) override {
        if (event == FL_KEYBOARD && Fl::focus() == this &&
            (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter))
            return 0;  // Enter belongs to the default button
        return Fl_Check_Button::handle(event);
    }
};

// A frame with its caption on the top edge.
class CGroupFrame : public Fl_Widget {
public:
    CGroupFrame(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}
    void draw() override {
        fl_font(FL_HELVETICA, kFontSize);
        const int top = y() + fl_height() / 2;
        fl_color(fl_rgb_color(160, 160, 160));
        fl_rect(x(), top, w() - 1, h() - (top - y()) - 1);
        fl_color(FL_WHITE);
        fl_rect(x() + 1, top + 1, w() - 1, h() - (top - y()) - 1);
        if (label() && *label()) {
            const int tw = static_cast<int>(fl_width(label()));
            fl_color(color());
            fl_rectf(x() + 6, y(), tw + 6, fl_height());
            fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
            fl_draw(label(), x() + 9, y() + fl_height() - fl_descent());
        }
    }
};

// A static text: the text fills the control's rectangle (inside its frame),
// without the 3 pixels FLTK keeps free on each side of a left- or
// right-aligned label, so that a text measured to fit the control fits.
class CLabel : public Fl_Box {
public:
    CLabel(int x, int y, int w, int h) : Fl_Box(x, y, w, h) {}
    void draw() override {
        draw_box();
        const int inset = box() == FL_NO_BOX ? 0 : 2;
        draw_label(x() + Fl::box_dx(box()) + inset, y() + Fl::box_dy(box()) + inset / 2,
                   w() - Fl::box_dw(box()) - 2 * inset, h() - Fl::box_dh(box()) - inset);
    }
};

class CEtchedLine : public Fl_Widget {
public:
    CEtchedLine(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}
    void draw() override {
        fl_color(fl_rgb_color(160, 160, 160));
        fl_xyline(x(), y(), x() + w() - 1);
        fl_color(FL_WHITE);
        fl_xyline(x(), y() + 1, x() + w() - 1);
    }
};

// The stock icons of message boxes.
class CStockIcon : public Fl_Widget {
public:
    CStockIcon(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}
    std::string kind;
    void draw() override {
        const int x0 = x(), y0 = y(), s = std::min(w(), h());
        if (kind == "error") {
            fl_color(fl_rgb_color(200, 32, 32));
            fl_pie(x0, y0, s, s, 0, 360);
            fl_color(FL_WHITE);
            fl_line_style(FL_SOLID | FL_CAP_ROUND, 4);
            fl_line(x0 + 10, y0 + 10, x0 + s - 11, y0 + s - 11);
            fl_line(x0 + s - 11, y0 + 10, x0 + 10, y0 + s - 11);
            fl_line_style(0);
        } else if (kind == "question" || kind == "information") {
            fl_color(fl_rgb_color(32, 96, 192));
            fl_pie(x0, y0, s, s, 0, 360);
            fl_color(FL_WHITE);
            fl_font(kind == "question" ? FL_HELVETICA_BOLD : FL_TIMES_BOLD, 22);
            fl_draw(kind == "question" ? "?" : "i", x0, y0, s, s, FL_ALIGN_CENTER, nullptr, 0);
        } else if (kind == "exclamation") {
            fl_color(fl_rgb_color(240, 192, 16));
            fl_polygon(x0 + s / 2, y0 + 1, x0 + s - 1, y0 + s - 2, x0, y0 + s - 2);
            fl_color(fl_rgb_color(128, 96, 0));
            fl_loop(x0 + s / 2, y0 + 1, x0 + s - 1, y0 + s - 2, x0, y0 + s - 2);
            fl_color(FL_BLACK);
            fl_font(FL_HELVETICA_BOLD, 20);
            fl_draw("!", x0, y0 + 6, s, s - 6, FL_ALIGN_CENTER, nullptr, 0);
        }
    }
};

// The extended combo box as a drop-down list: the chosen item with its
// image; a click, Space, F4 or Alt+Down drops the list, Up and Down choose
// the neighbour at once.
class CComboBox : public Fl_Widget {
public:
    CComboBox(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {
        box(FL_DOWN_BOX);
        color(FL_WHITE);
    }
    void draw() override {
        draw_box();
        WidgetLink* link = LinkOf(this);
        Control* c = link ? link->dialog->Find(link->id) : nullptr;
        const int arrowW = 17;
        fl_push_clip(x() + 2, y() + 2, w() - 4 - arrowW, h() - 4);
        if (Fl::focus() == this) {
            fl_color(selection_color());
            fl_rectf(x() + 2, y() + 2, w() - 4 - arrowW, h() - 4);
        }
        if (c && c->selection >= 0 && c->selection < static_cast<int>(c->items.size())) {
            const ListItem& item = c->items[c->selection];
            int tx = x() + 4;
            if (item.image >= 0 && item.image < static_cast<int>(c->imageViews.size())) {
                Fl_RGB_Image* image = c->imageViews[item.image].get();
                image->draw(tx, y() + (h() - image->h()) / 2);
                tx += image->w() + 4;
            }
            fl_font(FontFor(item.text), kFontSize);
            fl_color(Fl::focus() == this
                         ? FL_WHITE
                         : (active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR)));
            fl_draw(item.text.c_str(), tx, y(), w() - (tx - x()) - arrowW, h(), FL_ALIGN_LEFT,
                    nullptr, 0);
        }
        fl_pop_clip();
        // The drop button.
        const int bx = x() + w() - arrowW - 2;
        fl_draw_box(FL_UP_BOX, bx, y() + 2, arrowW, h() - 4, FL_BACKGROUND_COLOR);
        fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
        const int cx = bx + arrowW / 2, cy = y() + h() / 2;
        fl_polygon(cx - 4, cy - 2, cx + 4, cy - 2, cx, cy + 2);
    }
    int handle(int event) override {
        WidgetLink* link = LinkOf(this);
        switch (event) {
            case FL_FOCUS:
            case FL_UNFOCUS:
                redraw();
                return 1;
            case FL_PUSH:
                if (Fl::visible_focus()) take_focus();
                link->dialog->OpenList(link->id);
                return 1;
            case FL_KEYBOARD: {
                const int key = Fl::event_key();
                if (key == ' ' || key == FL_F + 4 ||
                    ((key == FL_Down || key == FL_Up) && (Fl::event_state() & FL_ALT))) {
                    link->dialog->OpenList(link->id);
                    return 1;
                }
                if (key == FL_Down || key == FL_Up) {
                    Control* c = link->dialog->Find(link->id);
                    const int next = c->selection + (key == FL_Down ? 1 : -1);
                    if (next >= 0 && next < static_cast<int>(c->items.size()) &&
                        next != c->selection) {
                        c->selection = next;
                        redraw();
                        link->dialog->Send({link->id, Notify::SelectionChanged, 0});
                    }
                    return 1;
                }
                return 0;
            }
            default:
                return Fl_Widget::handle(event);
        }
    }
};

int CRadioButton::handle(int event) {
    if (event == FL_KEYBOARD && Fl::focus() == this &&
        (Fl::event_key() == FL_Down || Fl::event_key() == FL_Up)) {
        WidgetLink* link = LinkOf(this);
        Control* me = link->dialog->Find(link->id);
        Fl_Group* g = parent();
        const int at = g->find(this);
        const int step = Fl::event_key() == FL_Down ? 1 : -1;
        if (!(step < 0 && (me->source.flags & ctl::Group))) {
            const int next = at + step;
            if (next >= 0 && next < g->children()) {
                Fl_Widget* w = g->child(next);
                WidgetLink* other = LinkOf(w);
                Control* oc = other ? other->dialog->Find(other->id) : nullptr;
                if (oc && oc->source.kind == ControlKind::RadioButton &&
                    !(step > 0 && (oc->source.flags & ctl::Group))) {
                    w->take_focus();
                    w->do_callback();
                }
            }
        }
        return 1;
    }
    if (event == FL_KEYBOARD && (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter))
        return 0;
    return Fl_Round_Button::handle(event);
}

void OnRadio(Fl_Widget* w, void* data) {
    auto* link = static_cast<WidgetLink*>(data);
    CFltkDialog* d = link->dialog;
    Control* me = d->Find(link->id);
    if (!me) return;
    // Uncheck the rest of the group: from the last "group" control up to the next.
    Fl_Group* g = w->parent();
    int first = g->find(w);
    while (first > 0) {
        WidgetLink* l = LinkOf(g->child(first));
        Control* c = l ? l->dialog->Find(l->id) : nullptr;
        if (c && (c->source.flags & ctl::Group)) break;
        --first;
    }
    for (int i = first; i < g->children(); ++i) {
        WidgetLink* l = LinkOf(g->child(i));
        Control* c = l ? l->dialog->Find(l->id) : nullptr;
        if (!c) continue;
        if (i > first && (c->source.flags & ctl::Group)) break;
        if (c->source.kind == ControlKind::RadioButton) {
            c->checked = false;
            static_cast<Fl_Button*>(g->child(i))->value(0);
        }
    }
    me->checked = true;
    static_cast<Fl_Button*>(w)->value(1);
    d->Post({link->id, Notify::Clicked, 0});
}

void OnWindowClose(Fl_Widget*, void* data) {
    static_cast<CFltkDialog*>(data)->Send({cmd::Cancel, Notify::Clicked, 0});
}

// ---- CFltkDialog ----

CFltkDialog::CFltkDialog(const DialogTemplate& dialog, CFltkDialog* parent)
    : template_(dialog), parent_(parent), title_(dialog.caption) {
    SetUpFonts();
    fl_font(FL_HELVETICA, kFontSize);
    // The base units as Windows derives them from a font: the average width
    // of the 52 Latin letters, rounded, and the line height.
    const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    baseX_ = static_cast<int>((fl_width(letters) / 26 + 1) / 2);
    baseY_ = fl_height();
    const int w = DialogUnitsX(dialog.width), h = DialogUnitsY(dialog.height);
    if (!parent_) {
        window_ = new CDialogWindow(*this, w, h);
        window_->callback(OnWindowClose, this);
        window_->resizable(nullptr);
        window_->size_range(w, h, w, h);
        group_ = window_;
        window_->copy_label(title_.c_str());
        window_->xclass("Dialog");
    } else {
        Fl_Group* outer = parent_->group_;
        group_ = new Fl_Group(parent_->OriginX() + DialogUnitsX(dialog.x),
                              parent_->OriginY() + DialogUnitsY(dialog.y), w, h);
        group_->resizable(nullptr);
        group_->end();
        outer->add(group_);
        group_->hide();
        parent_->children_.push_back(this);
    }
    group_->begin();
    for (const DialogControl& c : dialog.controls) BuildControl(c);
    group_->end();
    if (window_) Fl_Group::current(nullptr);
}

CFltkDialog::~CFltkDialog() {
    std::erase(ModalRuns(), this);
    for (auto& posted : posted_) Fl::remove_timeout(DeliverPosted, posted.get());
    for (CFltkDialog* child : children_) child->parent_ = nullptr;
    if (parent_) std::erase(parent_->children_, this);
    if (window_) {
        window_->hide();
        delete window_;
    } else if (group_) {
        if (group_->parent()) group_->parent()->remove(group_);
        delete group_;
    }
}

ImageSource& Images() {
    static ImageSource source;
    return source;
}

void CFltkDialog::BuildControl(const DialogControl& s) {
    auto c = std::make_unique<Control>();
    c->source = s;
    c->text = s.text;
    c->enabled = (s.flags & ctl::Disabled) == 0;
    c->visible = (s.flags & ctl::Hidden) == 0;
    c->readOnly = (s.flags & ctl::ReadOnly) != 0;
    const int x = OriginX() + DialogUnitsX(s.x), y = OriginY() + DialogUnitsY(s.y);
    int w = DialogUnitsX(s.width), h = DialogUnitsY(s.height);
    Fl_Widget* widget = nullptr;
    switch (s.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
            widget = new CPushButton(x, y, w, h);
            if (s.kind == ControlKind::DefPushButton && defaultButton_ == 0) defaultButton_ = s.id;
            break;
        case ControlKind::GroupBox:
            widget = new CGroupFrame(x, y, w, h);
            break;
        case ControlKind::RadioButton:
            widget = new CRadioButton(x, y, w, h);
            break;
        case ControlKind::CheckBox:
            widget = new CCheckBox(x, y, w, h);
            break;
        case ControlKind::Text: {
            auto* box = new CLabel(x, y, w, h);
            box->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_WRAP | FL_ALIGN_CLIP |
                       ((s.flags & ctl::Right) ? FL_ALIGN_RIGHT : FL_ALIGN_LEFT));
            if (s.flags & ctl::Sunken) box->box(FL_THIN_DOWN_BOX);
            widget = box;
            break;
        }
        case ControlKind::WhiteRect: {
            auto* box = new Fl_Box(FL_FLAT_BOX, x, y, w, h, nullptr);
            box->color(FL_WHITE);
            widget = box;
            break;
        }
        case ControlKind::Bitmap:
        case ControlKind::Icon: {
            std::optional<Image> picture;
            if (s.image != 0 && Images()) picture = Images()(s.kind, s.image);
            if (picture) {
                c->picture = std::move(picture);
                c->pictureImage = std::make_unique<Fl_RGB_Image>(
                    c->picture->rgba.data(), c->picture->width, c->picture->height, 4);
                if (s.kind == ControlKind::Bitmap) {
                    w = c->picture->width;
                    h = c->picture->height;
                }
                auto* box = new Fl_Box(x, y, w, h);
                box->image(c->pictureImage.get());
                box->align(FL_ALIGN_INSIDE | FL_ALIGN_CENTER);
                widget = box;
            } else {
                auto* icon = new CStockIcon(x, y, w, h);
                icon->kind = s.text;
                widget = icon;
            }
            break;
        }
        case ControlKind::EtchedLine:
            widget = new CEtchedLine(x, y, w, std::max(h, 2));
            break;
        case ControlKind::Edit:
            if (s.flags & ctl::MultiLine) {
                auto* display = new Fl_Text_Display(x, y, w, h);
                c->buffer = std::make_unique<Fl_Text_Buffer>();
                display->buffer(c->buffer.get());
                display->textfont(FL_HELVETICA);
                display->textsize(kFontSize);
                display->box(FL_DOWN_BOX);
                display->color(c->readOnly ? FL_WHITE : FL_WHITE);
                display->scrollbar_align(FL_ALIGN_RIGHT);
                // A multi-line edit without horizontal scrolling wraps its
                // lines at the panel's edge rather than cutting them off (a
                // long folder in the installation log, say).
                display->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
                widget = display;
            } else {
                auto* input = new Fl_Input(x, y, w, h);
                input->textfont(FL_HELVETICA);
                input->textsize(kFontSize);
                input->when(FL_WHEN_CHANGED);
                input->readonly(c->readOnly ? 1 : 0);
                if (c->readOnly) input->color(FL_BACKGROUND_COLOR);
                widget = input;
            }
            break;
        case ControlKind::ComboBoxEx:
            // The template's height is the dropped list's.
            h = DialogUnitsY(12) + 2;
            c->dropWidth = w;
            widget = new CComboBox(x, y, w, h);
            break;
        case ControlKind::ProgressBar: {
            auto* bar = new Fl_Progress(x, y, w, h);
            bar->minimum(0);
            bar->maximum(100);
            bar->value(0);
            bar->box(FL_THIN_DOWN_BOX);
            bar->color(FL_WHITE);
            bar->selection_color(fl_rgb_color(6, 176, 37));
            widget = bar;
            break;
        }
        case ControlKind::Tree: {
            auto* tree = new Fl_Tree(x, y, w, h);
            tree->showroot(0);
            tree->selectmode(FL_TREE_SELECT_SINGLE);
            tree->item_labelfont(FL_HELVETICA);
            tree->item_labelsize(kFontSize);
            widget = tree;
            break;
        }
    }
    widget->labelfont(FL_HELVETICA);
    widget->labelsize(kFontSize);
    auto link = std::make_unique<WidgetLink>(WidgetLink{this, s.id});
    widget->callback(s.kind == ControlKind::RadioButton ? OnRadio : OnWidget, link.get());
    links_.push_back(std::move(link));
    const bool focusable = s.kind == ControlKind::PushButton ||
                           s.kind == ControlKind::DefPushButton ||
                           s.kind == ControlKind::RadioButton || s.kind == ControlKind::CheckBox ||
                           s.kind == ControlKind::Edit || s.kind == ControlKind::ComboBoxEx ||
                           s.kind == ControlKind::Tree;
    // Only tab stops take the focus from the keyboard (a read-only log
    // without one is still scrolled with the mouse).
    widget->visible_focus(focusable && (s.flags & ctl::TabStop) ? 1 : 0);
    c->widget = widget;
    if (!c->enabled) widget->deactivate();
    if (!c->visible) widget->hide();
    controls_.push_back(std::move(c));
    ApplyLabel(*controls_.back());
}

void CFltkDialog::ApplyLabel(Control& c) {
    switch (c.source.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
        case ControlKind::RadioButton:
        case ControlKind::CheckBox:
            c.widget->copy_label(LabelOf(c.text, true).c_str());
            break;
        case ControlKind::GroupBox:
        case ControlKind::Text:
            c.widget->copy_label(LabelOf(c.text, false).c_str());
            c.widget->labelfont(FontFor(c.text));
            break;
        case ControlKind::Edit:
            if (c.buffer) {
                c.buffer->text(c.text.c_str());
            } else {
                static_cast<Fl_Input*>(c.widget)->value(c.text.c_str());
            }
            break;
        default:
            break;
    }
    c.widget->redraw();
    if (c.widget->parent()) c.widget->parent()->redraw();
}

Control* CFltkDialog::Find(int id) {
    for (auto& c : controls_)
        if (c->source.id == id) return c.get();
    return nullptr;
}
const Control* CFltkDialog::Find(int id) const {
    for (const auto& c : controls_)
        if (c->source.id == id) return c.get();
    return nullptr;
}

Control* CFltkDialog::ControlOf(Fl_Widget* widget, CFltkDialog** owner) {
    for (auto& c : controls_) {
        if (c->widget == widget) {
            *owner = this;
            return c.get();
        }
    }
    for (CFltkDialog* child : children_)
        if (Control* c = child->ControlOf(widget, owner)) return c;
    return nullptr;
}

Fl_Widget* CFltkDialog::DefaultWidget() {
    // A focused push button answers Enter itself; otherwise the default one.
    CFltkDialog* owner = nullptr;
    if (Control* f = ControlOf(Fl::focus(), &owner);
        f &&
        (f->source.kind == ControlKind::PushButton || f->source.kind == ControlKind::DefPushButton))
        return f->enabled && f->visible ? f->widget : nullptr;
    std::vector<CFltkDialog*> all{this};
    for (std::size_t i = 0; i < all.size(); ++i)
        for (CFltkDialog* child : all[i]->children_) all.push_back(child);
    for (CFltkDialog* d : all) {
        if (Control* c = d->Find(defaultButton_); c && c->enabled && c->visible) return c->widget;
    }
    return nullptr;
}

void CFltkDialog::Post(const ControlEvent& event) {
    posted_.push_back(std::make_unique<Posted>(Posted{this, event}));
    Fl::add_timeout(0.0, DeliverPosted, posted_.back().get());
}

// Fl::wait runs the due timeouts first and then blocks until the next X
// event: a modal loop whose dialog a posted event (a timeout) has just ended
// would go on waiting for some unrelated event before it noticed, and under
// load that event may be seconds away. A zero timeout added from a check,
// which runs after the timeouts and before the wait, makes that wait return
// at once.
void WakeCheck(void*) {
    Fl::remove_check(WakeCheck, nullptr);
    Fl::add_timeout(0.0, [](void*) {}, nullptr);
}

void CFltkDialog::DeliverPosted(void* data) {
    auto* posted = static_cast<Posted*>(data);
    CFltkDialog* dialog = posted->dialog;
    const ControlEvent event = posted->event;
    std::erase_if(dialog->posted_, [posted](const auto& p) { return p.get() == posted; });
    // What the user did in a window before a modal dialog opened over it
    // (a second quick click on Browse, say) is dropped: delivered now it
    // would run inside that dialog's loop and open a second one.
    const std::vector<CFltkDialog*>& runs = ModalRuns();
    if (!runs.empty() && runs.back() != &dialog->TopLevel()) return;
    dialog->Send(event);
    if (!Fl::has_check(WakeCheck, nullptr)) Fl::add_check(WakeCheck, nullptr);
}

bool CFltkDialog::IsBanner(int x, int y) {
    for (auto& c : controls_) {
        if (c->source.kind != ControlKind::Bitmap && c->source.kind != ControlKind::WhiteRect)
            continue;
        Fl_Widget* w = c->widget;
        if (x >= w->x() && x < w->x() + w->w() && y >= w->y() && y < w->y() + w->h()) return true;
    }
    return false;
}

void CFltkDialog::SetTitle(const std::string& title) {
    title_ = title;
    if (window_) window_->copy_label(title.c_str());
}

void CFltkDialog::SetIcon(const Image& icon) {
    if (!window_) return;
    icon_ = icon;
    iconImage_ = std::make_unique<Fl_RGB_Image>(icon_->rgba.data(), icon_->width, icon_->height, 4);
    window_->icon(iconImage_.get());
}

Rect CFltkDialog::Geometry() const {
    if (window_) return {window_->x(), window_->y(), window_->w(), window_->h()};
    const int px = parent_ ? parent_->OriginX() : 0, py = parent_ ? parent_->OriginY() : 0;
    return {group_->x() - px, group_->y() - py, group_->w(), group_->h()};
}

void CFltkDialog::SetGeometry(const Rect& r) {
    if (window_) {
        // A window that only changes its size is still centred when shown.
        if (r.x != window_->x() || r.y != window_->y()) placed_ = true;
        window_->size_range(r.w, r.h, r.w, r.h);
        window_->resize(r.x, r.y, r.w, r.h);
        return;
    }
    const int px = parent_ ? parent_->OriginX() : 0, py = parent_ ? parent_->OriginY() : 0;
    group_->resize(px + r.x, py + r.y, r.w, r.h);
    group_->init_sizes();
    if (group_->parent()) group_->parent()->redraw();
}

int CFltkDialog::TextWidth(std::string_view text) const {
    const std::string s(text);
    fl_font(FontFor(s), kFontSize);
    return static_cast<int>(fl_width(s.c_str()) + 0.5);
}

Rect CFltkDialog::MeasureText(std::string_view text, int wrapWidth) const {
    const std::string label = ToLabelText(text);
    fl_font(FontFor(label), kFontSize);
    int w = wrapWidth, h = 0;
    fl_measure(label.c_str(), w, h, 0);
    if (wrapWidth > 0 && w > wrapWidth) w = wrapWidth;
    return {0, 0, w, std::max(h, fl_height())};
}

void CFltkDialog::ShowDialog(bool shown) {
    if (window_) {
        if (shown) {
            if (!placed_) {
                int sx, sy, sw, sh;
                Fl::screen_xywh(sx, sy, sw, sh);
                window_->position(sx + (sw - window_->w()) / 2, sy + (sh - window_->h()) / 2);
                placed_ = true;
            }
            MarkHeldKeysStale();
            window_->show();
            window_->wait_for_expose();
            RevealTreeSelections();
            TakeKeyboard();
            Dump();
        } else {
            window_->hide();
        }
        return;
    }
    if (shown) {
        group_->show();
    } else {
        group_->hide();
    }
    if (group_->parent()) group_->parent()->redraw();
}

void CFltkDialog::RevealTreeSelections() {
    // A tree knows where its items are only once it has been drawn, so the
    // selection made before the window was shown (the chooser's start
    // folder) is scrolled into view now.
    Fl::flush();
    std::vector<CFltkDialog*> all{this};
    for (std::size_t i = 0; i < all.size(); ++i)
        for (CFltkDialog* child : all[i]->children_) all.push_back(child);
    for (CFltkDialog* d : all) {
        for (auto& c : d->controls_) {
            if (c->source.kind != ControlKind::Tree) continue;
            auto* tree = static_cast<Fl_Tree*>(c->widget);
            Fl_Tree_Item* selected = tree->first_selected_item();
            if (selected && !tree->displayed(selected)) tree->show_item_middle(selected);
        }
    }
}

void CFltkDialog::TakeKeyboard() {
    // Without a window manager nobody else gives the window the keyboard.
    // The server is waited for, not just sent the request: the record the
    // dump gets next says the window is there to be typed into, and a key
    // sent on reading it must not go to the window that had the focus.
    const ::Window xid = fl_xid(window_);
    for (int attempt = 0; attempt < 50; ++attempt) {
        XSetInputFocus(fl_display, xid, RevertToParent, CurrentTime);
        XSync(fl_display, False);
        ::Window focus = 0;
        int revert = 0;
        XGetInputFocus(fl_display, &focus, &revert);
        if (focus == xid) return;
        // Not viewable yet (a window manager may map it late).
        Fl::wait(0.02);
    }
}

bool CFltkDialog::IsDialogShown() const {
    if (window_) return window_->shown() != 0;
    return group_->visible() != 0;
}

int CFltkDialog::RunModal() {
    if (!window_) return 0;
    running_ = true;
    ended_ = false;
    window_->set_modal();
    ModalRuns().push_back(this);
    ShowDialog(true);
    if (Control* d = Find(defaultButton_); d && d->enabled && !Find(Focus()))
        d->widget->take_focus();
    while (!ended_ && window_->shown()) Fl::wait();
    std::erase(ModalRuns(), this);
    running_ = false;
    window_->hide();
    Fl::flush();
    return result_;
}

void CFltkDialog::Minimize() {
    if (window_) window_->iconize();
}
void CFltkDialog::Restore() {
    if (window_) window_->show();
}
bool CFltkDialog::IsMinimized() const {
    return window_ && window_->shown() && !window_->visible();
}

int CFltkDialog::PopupMenu(const std::vector<MenuItem>& items) {
    if (!window_) return 0;
    std::vector<Fl_Menu_Item> menu;
    std::vector<std::string> labels;
    labels.reserve(items.size());
    for (const MenuItem& item : items) {
        if (item.command == 0) {
            if (!menu.empty()) menu.back().flags |= FL_MENU_DIVIDER;
            continue;
        }
        labels.push_back(ToLabelText(item.text));
        Fl_Menu_Item m{};
        m.text = labels.back().c_str();
        m.user_data_ = reinterpret_cast<void*>(static_cast<intptr_t>(item.command));
        m.flags = item.enabled ? 0 : FL_MENU_INACTIVE;
        m.labelsize_ = kFontSize;
        m.labelfont_ = FL_HELVETICA;
        menu.push_back(m);
    }
    menu.push_back(Fl_Menu_Item{});
    const Fl_Menu_Item* chosen = menu.front().popup(0, 0);
    Dump();
    if (!chosen || !chosen->text) return 0;
    return static_cast<int>(reinterpret_cast<intptr_t>(chosen->user_data_));
}

void CFltkDialog::OpenList(int id) {
    Control* c = Find(id);
    if (!c || c->items.empty()) return;
    std::vector<Fl_Menu_Item> menu(c->items.size() + 1);
    std::vector<Fl_Multi_Label> labels(c->items.size());
    std::vector<std::string> texts(c->items.size());
    // Giving an image to a menu item once makes FLTK know how to draw image
    // labels, which the multi-labels below need.
    if (!c->imageViews.empty()) {
        Fl_Menu_Item registration{};
        c->imageViews.front()->label(&registration);
    }
    for (std::size_t i = 0; i < c->items.size(); ++i) {
        const ListItem& item = c->items[i];
        Fl_Menu_Item& m = menu[i];
        m.labelsize_ = kFontSize;
        m.labelfont_ = FontFor(item.text);
        if (item.image >= 0 && item.image < static_cast<int>(c->imageViews.size())) {
            labels[i].labela = reinterpret_cast<const char*>(c->imageViews[item.image].get());
            labels[i].typea = _FL_IMAGE_LABEL;
            // A space keeps the name off its flag.
            texts[i] = " " + item.text;
            labels[i].labelb = texts[i].c_str();
            labels[i].typeb = FL_NORMAL_LABEL;
            labels[i].label(&m);
        } else {
            m.text = item.text.c_str();
        }
    }
    Fl_Widget* w = c->widget;
    const Fl_Menu_Item* start =
        c->selection >= 0 ? &menu[static_cast<std::size_t>(c->selection)] : nullptr;
    // With an item picked, FLTK centres that item on the rectangle given: the
    // box itself, so that the current name lies exactly over it. Given only
    // the box's lower edge, the item straddled that edge and left a sliver of
    // the box showing above the list.
    const int width = std::max(c->dropWidth, w->w());
    const Fl_Menu_Item* chosen = start ? menu.front().pulldown(w->x(), w->y(), width, w->h(), start)
                                       : menu.front().pulldown(w->x(), w->y() + w->h(), width, 0);
    if (!chosen) return;
    const int position = static_cast<int>(chosen - menu.data());
    if (position != c->selection) {
        c->selection = position;
        w->redraw();
        Post({id, Notify::SelectionChanged, 0});
    }
}

void CFltkDialog::DumpInto(UiDumpWindow& dump, int, int) {
    for (auto& cp : controls_) {
        Control& c = *cp;
        std::string text = c.text;
        switch (c.source.kind) {
            case ControlKind::PushButton:
            case ControlKind::DefPushButton:
            case ControlKind::RadioButton:
            case ControlKind::CheckBox:
                text = ReadableLabel(c.text);
                break;
            case ControlKind::ComboBoxEx:
                text = SelectedListText(c.items, c.selection);
                break;
            case ControlKind::ProgressBar:
                text = std::to_string(c.progress);
                break;
            case ControlKind::Edit:
                text = Text(c.source.id);
                break;
            case ControlKind::Tree:
                text = TreeItemText(c.source.id, SelectedTreeItem(c.source.id));
                break;
            default:
                break;
        }
        Fl_Widget* w = c.widget;
        const bool isButton =
            c.source.kind == ControlKind::PushButton || c.source.kind == ControlKind::DefPushButton;
        dump.controls.push_back(
            {UiDumpClassOf(c.source.kind), c.source.id, text, w->x(), w->y(), w->w(), w->h(),
             UiDumpStates(isButton && IsDefault(c.source.id), Fl::focus() == w && c.source.id != 0,
                          c.enabled, c.visible, c.checked, c.readOnly,
                          (c.source.flags & ctl::RtlReading) != 0)});
    }
    for (CFltkDialog* child : children_)
        if (child->group_->visible()) child->DumpInto(dump, 0, 0);
}

void CFltkDialog::Dump() {
    if (parent_) return TopLevel().Dump();
    if (!window_ || !window_->shown() || UiDumpPath().empty()) return;
    UiDumpWindow dump{windowClass_, title_, window_->x(), window_->y(), window_->w(),
                      window_->h(), {}};
    DumpInto(dump, 0, 0);
    AppendUiDump(dump);
}

void CFltkDialog::SetWindowClass(const std::string& name) {
    windowClass_ = name;
    if (window_ && !window_->shown()) window_->xclass(windowClass_.c_str());
}

void CFltkDialog::SetText(int id, const std::string& text) {
    Control* c = Find(id);
    if (!c) return;
    c->text = text;
    ApplyLabel(*c);
}

std::string CFltkDialog::Text(int id) const {
    const Control* c = Find(id);
    if (!c) return {};
    if (c->buffer) {
        char* t = c->buffer->text();
        std::string s = t ? t : "";
        free(t);
        return s;
    }
    return c->text;
}

void CFltkDialog::Enable(int id, bool enabled) {
    Control* c = Find(id);
    if (!c) return;
    c->enabled = enabled;
    if (enabled) {
        c->widget->activate();
    } else {
        c->widget->deactivate();
    }
    c->widget->redraw();
}

void CFltkDialog::Show(int id, bool visible) {
    Control* c = Find(id);
    if (!c) return;
    c->visible = visible;
    if (visible) {
        c->widget->show();
    } else {
        c->widget->hide();
    }
    if (c->widget->parent()) c->widget->parent()->redraw();
}

void CFltkDialog::SetChecked(int id, bool checked) {
    Control* c = Find(id);
    if (!c) return;
    c->checked = checked;
    if (auto* b = dynamic_cast<Fl_Button*>(c->widget)) b->value(checked ? 1 : 0);
}

bool CFltkDialog::IsChecked(int id) const {
    const Control* c = Find(id);
    return c && c->checked;
}

void CFltkDialog::SetReadOnly(int id, bool readOnly) {
    Control* c = Find(id);
    if (!c) return;
    c->readOnly = readOnly;
    if (auto* input = dynamic_cast<Fl_Input*>(c->widget)) {
        input->readonly(readOnly ? 1 : 0);
        input->color(readOnly ? FL_BACKGROUND_COLOR : FL_WHITE);
        input->redraw();
    }
}

void CFltkDialog::SetTextLimit(int id, int characters) {
    Control* c = Find(id);
    if (!c) return;
    c->limit = characters;
    if (auto* input = dynamic_cast<Fl_Input*>(c->widget))
        input->maximum_size(characters > 0 ? characters : 32767);
}

Rect CFltkDialog::ControlRect(int id) const {
    const Control* c = Find(id);
    if (!c) return {};
    const Fl_Widget* w = c->widget;
    return {w->x() - OriginX(), w->y() - OriginY(), w->w(), w->h()};
}

void CFltkDialog::SetControlRect(int id, const Rect& r) {
    Control* c = Find(id);
    if (!c) return;
    c->widget->resize(OriginX() + r.x, OriginY() + r.y, r.w, r.h);
    group_->init_sizes();
    group_->redraw();
}

void CFltkDialog::SetFocus(int id) {
    if (Control* c = Find(id)) c->widget->take_focus();
}

int CFltkDialog::Focus() const {
    for (const auto& c : controls_)
        if (Fl::focus() == c->widget) return c->source.id;
    return 0;
}

void CFltkDialog::SetDefaultButton(int id) {
    CFltkDialog& top = TopLevel();
    top.defaultButton_ = id;
    top.group_->redraw();
}

int CFltkDialog::AddImage(int id, const Image& image) {
    Control* c = Find(id);
    if (!c || image.width <= 0 || image.height <= 0) return -1;
    c->images.push_back(image);
    c->imageViews.clear();
    // The views point into `images`, which may have moved.
    for (Image& i : c->images)
        c->imageViews.push_back(
            std::make_unique<Fl_RGB_Image>(i.rgba.data(), i.width, i.height, 4));
    return static_cast<int>(c->images.size()) - 1;
}

int CFltkDialog::InsertItem(int id, int position, const ListItem& item) {
    Control* c = Find(id);
    if (!c) return -1;
    position = InsertListItem(c->items, c->selection, position, item);
    c->widget->redraw();
    return position;
}

std::optional<ListItem> CFltkDialog::Item(int id, int position) const {
    const Control* c = Find(id);
    if (!c || position < 0 || position >= static_cast<int>(c->items.size())) return std::nullopt;
    return c->items[position];
}

void CFltkDialog::ClearItems(int id) {
    Control* c = Find(id);
    if (!c) return;
    c->items.clear();
    c->selection = -1;
    c->widget->redraw();
}

void CFltkDialog::SetSelection(int id, int position) {
    Control* c = Find(id);
    if (!c) return;
    c->selection = position >= 0 && position < static_cast<int>(c->items.size()) ? position : -1;
    c->widget->redraw();
}

void CFltkDialog::AppendText(int id, const std::string& text) {
    Control* c = Find(id);
    if (!c) return;
    if (!c->buffer) {
        c->text += text;
        ApplyLabel(*c);
        return;
    }
    // The panel shows line ends as LF alone (a CR would be drawn).
    std::string shown;
    shown.reserve(text.size());
    for (char ch : text)
        if (ch != '\r') shown += ch;
    c->buffer->append(shown.c_str());
    auto* display = static_cast<Fl_Text_Display*>(c->widget);
    display->insert_position(c->buffer->length());
    display->show_insert_position();
}

void CFltkDialog::ScrollToTop(int id) {
    Control* c = Find(id);
    if (!c || !c->buffer) return;
    auto* display = static_cast<Fl_Text_Display*>(c->widget);
    display->insert_position(0);
    display->scroll(0, 0);
}

int CFltkDialog::TextAreaWidth(int id) const {
    const Control* c = Find(id);
    if (!c) return 0;
    int width = c->widget->w() - Fl::box_dw(c->widget->box());
    if (c->buffer) width -= Fl::scrollbar_size() + 3 + 3;  // the panel's margins
    return std::max(0, width);
}

void CFltkDialog::SetProgress(int id, int percent) {
    Control* c = Find(id);
    if (!c) return;
    c->progress = std::clamp(percent, 0, 100);
    if (auto* bar = dynamic_cast<Fl_Progress*>(c->widget)) bar->value(float(c->progress));
}

// ---- Trees ----
// An item whose children are not known yet carries one empty placeholder
// child, so that the tree draws its expander.

TreeItem CFltkDialog::TreeIdOf(const Control& c, Fl_Tree_Item* item) const {
    for (const auto& [id, i] : c.tree)
        if (i == item) return id;
    return kTreeRoot;
}

void CFltkDialog::TreeItemInserted(int id, TreeItem parent, TreeItem handle,
                                   const std::string& text, bool hasChildren) {
    Control* c = Find(id);
    auto* tree = static_cast<Fl_Tree*>(c->widget);
    Fl_Tree_Item* parentItem = tree->root();
    if (parent != kTreeRoot) {
        parentItem = c->tree.at(parent);
        // A real child replaces the placeholder.
        for (int i = parentItem->children() - 1; i >= 0; --i)
            if (!parentItem->child(i)->user_data()) tree->remove(parentItem->child(i));
    }
    Fl_Tree_Item* item = tree->add(parentItem, "");
    item->label(text.c_str());
    item->user_data(reinterpret_cast<void*>(static_cast<intptr_t>(handle)));
    if (hasChildren) {
        Fl_Tree_Item* placeholder = tree->add(item, " ");
        placeholder->user_data(nullptr);
    }
    item->close();
    c->tree[handle] = item;
    tree->redraw();
}

void CFltkDialog::TreeItemsDeleted(int id, TreeItem parent, const std::vector<TreeItem>& items) {
    Control* c = Find(id);
    auto* tree = static_cast<Fl_Tree*>(c->widget);
    for (TreeItem t : items) c->tree.erase(t);
    Fl_Tree_Item* p = parent == kTreeRoot ? tree->root() : c->tree.at(parent);
    p->clear_children();
    tree->redraw();
}

void CFltkDialog::TreeItemExpanded(int id, TreeItem item, bool expanded) {
    Control* c = Find(id);
    auto* tree = static_cast<Fl_Tree*>(c->widget);
    if (expanded) {
        tree->open(c->tree.at(item), 0);
    } else {
        tree->close(c->tree.at(item), 0);
    }
}

void CFltkDialog::TreeItemSelected(int id, TreeItem item) {
    Control* c = Find(id);
    auto* tree = static_cast<Fl_Tree*>(c->widget);
    if (item == kTreeRoot) {
        tree->deselect_all(nullptr, 0);
    } else {
        tree->select_only(c->tree.at(item), 0);
        tree->show_item_middle(c->tree.at(item));
    }
}

void CFltkDialog::TreeCallback(int id, Fl_Tree* tree) {
    Control* c = Find(id);
    if (!c) return;
    Fl_Tree_Item* item = tree->callback_item();
    const TreeItem handle = item ? TreeIdOf(*c, item) : kTreeRoot;
    if (handle == kTreeRoot) return;
    switch (tree->callback_reason()) {
        case FL_TREE_REASON_OPENED:
            NoteTreeExpansion(id, handle, true);
            Post({id, Notify::ItemExpanding, handle});
            break;
        case FL_TREE_REASON_CLOSED:
            NoteTreeExpansion(id, handle, false);
            break;
        case FL_TREE_REASON_SELECTED:
            NoteTreeSelection(id, handle);
            Post({id, Notify::SelectionChanged, handle});
            break;
        case FL_TREE_REASON_DESELECTED:
            if (SelectedTreeItem(id) == handle) NoteTreeSelection(id, kTreeRoot);
            break;
        default:
            break;
    }
}

class CFltkToolkit final : public UiToolkit {
public:
    std::unique_ptr<Dialog> CreateDialog(const DialogTemplate& dialog, Dialog* parent,
                                         Window*) override {
        if (!EnsureFltkDisplay()) return nullptr;
        return std::make_unique<CFltkDialog>(dialog, static_cast<CFltkDialog*>(parent));
    }
    void PumpEvents() override {
        if (fl_display) Fl::check();
    }
    bool IsHeadless() const override { return false; }
    void SetImageSource(ImageSource source) override { Images() = std::move(source); }
};

}  // namespace

UiToolkit& FltkToolkit() {
    static CFltkToolkit* toolkit = new CFltkToolkit;
    return *toolkit;
}

}  // namespace mw::platform
