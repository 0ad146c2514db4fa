#include "platform/headless_ui.hpp"

#include <algorithm>
#include <cstdlib>

#include "platform/ui_dump.hpp"

namespace mw::platform {
namespace {

constexpr int kBaseX = 6;
constexpr int kBaseY = 13;

bool IsButtonKind(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::DefPushButton ||
           kind == ControlKind::CheckBox || kind == ControlKind::RadioButton;
}

// Code points of a UTF-8 text, for the fixed-width measure.
int CharWidth(std::string_view text, std::size_t& i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
    i += len;
    if (c == ' ') return 3;
    if (c == '-') return 4;
    return 6;
}

}  // namespace

Rect Union(const Rect& a, const Rect& b) {
    const int x = std::min(a.x, b.x), y = std::min(a.y, b.y);
    return {x, y, std::max(a.right(), b.right()) - x, std::max(a.bottom(), b.bottom()) - y};
}

std::string ReadableLabel(std::string_view label) {
    std::string out;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '&') {
            if (i + 1 < label.size() && label[i + 1] == '&') out += '&', ++i;
            continue;
        }
        out += label[i];
    }
    return out;
}

std::string SystemMenuText(int command) {
    switch (command) {
        case sc::Minimize:
            return "Mi&nimize";
        case sc::Restore:
            return "&Restore";
        case sc::Maximize:
            return "Ma&ximize";
        case sc::Size:
            return "&Size";
        case sc::Close:
            return "&Close";
        default:
            return {};
    }
}

std::string ToLabelText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '@') {
            out += "@@";
        } else if (c == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

// ---- HeadlessDialog ----

HeadlessDialog::HeadlessDialog(HeadlessToolkit& toolkit, const DialogTemplate& dialog,
                               HeadlessDialog* parent)
    : toolkit_(toolkit), template_(dialog), parent_(parent), title_(dialog.caption) {
    rect_ = {DialogUnitsX(dialog.x), DialogUnitsY(dialog.y), DialogUnitsX(dialog.width),
             DialogUnitsY(dialog.height)};
    for (const DialogControl& c : dialog.controls) {
        Control control;
        control.source = c;
        control.text = c.text;
        control.enabled = (c.flags & ctl::Disabled) == 0;
        control.visible = (c.flags & ctl::Hidden) == 0;
        control.readOnly = (c.flags & ctl::ReadOnly) != 0;
        control.rect = {DialogUnitsX(c.x), DialogUnitsY(c.y), DialogUnitsX(c.width),
                        DialogUnitsY(c.height)};
        // A combo box's template height is that of its dropped list.
        if (c.kind == ControlKind::ComboBoxEx) {
            control.dropWidth = control.rect.w;
            control.rect.h = DialogUnitsY(12);
        }
        if (c.kind == ControlKind::DefPushButton && defaultButton_ == 0) defaultButton_ = c.id;
        if ((c.kind == ControlKind::Bitmap || c.kind == ControlKind::Icon) && toolkit.images) {
            if (c.image != 0) {
                if (auto image = toolkit.images(c.kind, c.image)) {
                    control.rect.w = image->width;
                    control.rect.h = image->height;
                }
            }
        }
        controls_.push_back(std::move(control));
    }
    shown_ = (dialog.style & dlg::Visible) != 0;
    if (parent_) parent_->children_.push_back(this);
    toolkit_.dialogs_.push_back(this);
}

HeadlessDialog::~HeadlessDialog() {
    if (parent_) std::erase(parent_->children_, this);
    for (HeadlessDialog* child : children_) child->parent_ = nullptr;
    std::erase(toolkit_.dialogs_, this);
    if (toolkit_.focusDialog == this) {
        toolkit_.focusDialog = nullptr;
        toolkit_.focusId = 0;
    }
}

HeadlessDialog& HeadlessDialog::TopLevel() {
    HeadlessDialog* d = this;
    while (d->parent_) d = d->parent_;
    return *d;
}

HeadlessDialog::Control* HeadlessDialog::Find(int id) {
    for (Control& c : controls_)
        if (c.source.id == id) return &c;
    return nullptr;
}

const HeadlessDialog::Control* HeadlessDialog::Find(int id) const {
    for (const Control& c : controls_)
        if (c.source.id == id) return &c;
    return nullptr;
}

bool HeadlessDialog::IsTree(int id) const {
    const Control* c = Find(id);
    return c && c->source.kind == ControlKind::Tree;
}

bool HeadlessDialog::Click(int id) {
    Control* c = Find(id);
    if (!c || !c->enabled || !c->visible || !IsButtonKind(c->source.kind)) return false;
    if (parent_ && !shown_) return false;
    if (c->source.kind == ControlKind::CheckBox) c->checked = !c->checked;
    if (c->source.kind == ControlKind::RadioButton) {
        // The group runs from the last control marked "group" up to the next one.
        std::size_t index = static_cast<std::size_t>(c - controls_.data());
        std::size_t first = index;
        while (first > 0 && !(controls_[first].source.flags & ctl::Group)) --first;
        for (std::size_t i = first; i < controls_.size(); ++i) {
            if (i > first && (controls_[i].source.flags & ctl::Group)) break;
            if (controls_[i].source.kind == ControlKind::RadioButton) controls_[i].checked = false;
        }
        c->checked = true;
    }
    toolkit_.focusDialog = this;
    toolkit_.focusId = id;
    Send({id, Notify::Clicked, 0});
    return true;
}

bool HeadlessDialog::Type(int id, const std::string& text) {
    Control* c = Find(id);
    if (!c || !c->enabled || !c->visible || c->readOnly || c->source.kind != ControlKind::Edit)
        return false;
    c->text = text;
    if (c->limit > 0) {
        // The limit counts characters, not bytes.
        std::size_t i = 0;
        int count = 0;
        while (i < c->text.size() && count < c->limit) {
            CharWidth(c->text, i);
            ++count;
        }
        c->text.resize(std::min(i, c->text.size()));
    }
    Send({id, Notify::TextChanged, 0});
    return true;
}

bool HeadlessDialog::Choose(int id, int position) {
    Control* c = Find(id);
    if (!c || !c->enabled || !c->visible) return false;
    if (position < 0 || position >= static_cast<int>(c->items.size())) return false;
    c->selection = position;
    Send({id, Notify::SelectionChanged, 0});
    return true;
}

bool HeadlessDialog::ChooseTreeItem(int id, TreeItem item) {
    Control* c = Find(id);
    if (!c || !c->enabled || !HasTreeItem(id, item)) return false;
    NoteTreeSelection(id, item);
    Send({id, Notify::SelectionChanged, item});
    return true;
}

bool HeadlessDialog::ExpandByUser(int id, TreeItem item) {
    Control* c = Find(id);
    if (!c || !c->enabled || !HasTreeItem(id, item)) return false;
    if (!TreeItemHasChildren(id, item)) return false;
    Send({id, Notify::ItemExpanding, item});
    NoteTreeExpansion(id, item, true);
    return true;
}

void HeadlessDialog::CollectTabStops(std::vector<std::pair<HeadlessDialog*, int>>& out) {
    for (Control& c : controls_) {
        if ((c.source.flags & ctl::TabStop) && c.enabled && c.visible)
            out.emplace_back(this, c.source.id);
    }
    for (HeadlessDialog* child : children_)
        if (child->shown_) child->CollectTabStops(out);
}

void HeadlessDialog::PressKey(Key key) {
    HeadlessDialog& top = TopLevel();
    if (&top != this) return top.PressKey(key);
    switch (key) {
        case Key::Enter: {
            // The focused push button wins over the default one, as in the
            // system's dialogs.
            HeadlessDialog* fd = toolkit_.focusDialog;
            if (fd && &fd->TopLevel() == this) {
                if (const Control* c = fd->Find(toolkit_.focusId);
                    c && (c->source.kind == ControlKind::PushButton ||
                          c->source.kind == ControlKind::DefPushButton)) {
                    fd->Click(c->source.id);
                    return;
                }
            }
            if (defaultButton_ != 0) {
                const Control* c = Find(defaultButton_);
                if (c && c->enabled && c->visible) Click(defaultButton_);
            }
            return;
        }
        case Key::Escape:
            Send({cmd::Cancel, Notify::Clicked, 0});
            return;
        case Key::Tab:
        case Key::ShiftTab: {
            std::vector<std::pair<HeadlessDialog*, int>> stops;
            CollectTabStops(stops);
            if (stops.empty()) return;
            auto it = std::find(stops.begin(), stops.end(),
                                std::make_pair(toolkit_.focusDialog, toolkit_.focusId));
            std::size_t index = 0;
            if (it != stops.end()) {
                const std::size_t at = static_cast<std::size_t>(it - stops.begin());
                index = key == Key::Tab ? (at + 1) % stops.size()
                                        : (at + stops.size() - 1) % stops.size();
            }
            toolkit_.focusDialog = stops[index].first;
            toolkit_.focusId = stops[index].second;
            Dump();
            return;
        }
        case Key::Space: {
            HeadlessDialog* fd = toolkit_.focusDialog;
            if (fd && &fd->TopLevel() == this) fd->Click(toolkit_.focusId);
            return;
        }
        case Key::Up:
        case Key::Down: {
            HeadlessDialog* fd = toolkit_.focusDialog;
            if (!fd || &fd->TopLevel() != this) return;
            const Control* c = fd->Find(toolkit_.focusId);
            // A closed drop-down list chooses the neighbour at once.
            if (c && c->source.kind == ControlKind::ComboBoxEx) {
                fd->Choose(c->source.id, c->selection + (key == Key::Down ? 1 : -1));
                return;
            }
            if (!c || c->source.kind != ControlKind::RadioButton) return;
            std::size_t index = static_cast<std::size_t>(c - fd->controls_.data());
            auto& list = fd->controls_;
            if (key == Key::Down) {
                if (index + 1 < list.size() &&
                    list[index + 1].source.kind == ControlKind::RadioButton &&
                    !(list[index + 1].source.flags & ctl::Group))
                    fd->Click(list[index + 1].source.id);
            } else if (index > 0 && !(c->source.flags & ctl::Group) &&
                       list[index - 1].source.kind == ControlKind::RadioButton) {
                fd->Click(list[index - 1].source.id);
            }
            return;
        }
        case Key::AltSpace:
            Send({0, Notify::SystemMenu, 0});
            return;
    }
}

void HeadlessDialog::CloseWindow() {
    Send({cmd::Cancel, Notify::Clicked, 0});
}

bool HeadlessDialog::Perform(const std::string& step) {
    static const std::pair<const char*, Key> keys[] = {
        {"key:Return", Key::Enter},
        {"key:KP_Enter", Key::Enter},
        {"key:Escape", Key::Escape},
        {"key:Tab", Key::Tab},
        {"key:shift+Tab", Key::ShiftTab},
        {"key:space", Key::Space},
        {"key:Up", Key::Up},
        {"key:Down", Key::Down},
        {"key:alt+space", Key::AltSpace},
    };
    for (const auto& [name, key] : keys) {
        if (step == name) {
            PressKey(key);
            return true;
        }
    }
    if (step == "close") {
        TopLevel().CloseWindow();
        return true;
    }
    if (step.rfind("type:", 0) == 0) {
        HeadlessDialog* fd = toolkit_.focusDialog;
        return fd && fd->Type(toolkit_.focusId, step.substr(5));
    }
    if (step.rfind("click:", 0) == 0) {
        const int id = std::atoi(step.c_str() + 6);
        std::vector<HeadlessDialog*> all{&TopLevel()};
        for (std::size_t i = 0; i < all.size(); ++i)
            for (HeadlessDialog* child : all[i]->children_) all.push_back(child);
        for (HeadlessDialog* d : all)
            if ((!d->parent_ || d->shown_) && d->Find(id)) return d->Click(id);
    }
    return false;
}

std::deque<std::string> HeadlessToolkit::ParseSteps(const std::string& script) {
    std::deque<std::string> steps;
    std::size_t start = 0;
    while (start < script.size()) {
        std::size_t end = script.find(';', start);
        if (end == std::string::npos) end = script.size();
        if (end > start) steps.push_back(script.substr(start, end - start));
        start = end + 1;
    }
    return steps;
}


void HeadlessDialog::SetTitle(const std::string& title) {
    title_ = title;
}
std::string HeadlessDialog::Title() const {
    return title_;
}
void HeadlessDialog::SetIcon(const Image&) {
    hasIcon_ = true;
}
Rect HeadlessDialog::Geometry() const {
    return rect_;
}
void HeadlessDialog::SetGeometry(const Rect& rect) {
    rect_ = rect;
}
int HeadlessDialog::DialogUnitsX(int units) const {
    return units * kBaseX / 4;
}
int HeadlessDialog::DialogUnitsY(int units) const {
    return units * kBaseY / 8;
}

int HeadlessDialog::TextWidth(std::string_view text) const {
    int width = 0;
    for (std::size_t i = 0; i < text.size();) width += CharWidth(text, i);
    return width;
}

Rect HeadlessDialog::MeasureText(std::string_view text, int wrapWidth) const {
    int lines = 0, widest = 0;
    std::size_t start = 0;
    const std::string label = ToLabelText(text);
    while (start <= label.size()) {
        std::size_t end = label.find('\n', start);
        if (end == std::string::npos) end = label.size();
        std::string_view line(label.data() + start, end - start);
        int w = TextWidth(line);
        if (wrapWidth > 0 && w > wrapWidth) {
            lines += (w + wrapWidth - 1) / wrapWidth;
            widest = wrapWidth;
        } else {
            ++lines;
            widest = std::max(widest, w);
        }
        start = end + 1;
    }
    return {0, 0, widest, lines * kBaseY};
}

void HeadlessDialog::ShowDialog(bool shown) {
    const bool was = shown_;
    shown_ = shown;
    if (shown && !was && !parent_) Dump();
}
bool HeadlessDialog::IsDialogShown() const {
    return shown_;
}

int HeadlessDialog::RunModal() {
    running_ = true;
    ended_ = false;
    toolkit_.modalRuns.push_back(title_);
    shown_ = true;
    if (defaultButton_ != 0 && !toolkit_.focusDialog) {
        toolkit_.focusDialog = this;
        toolkit_.focusId = defaultButton_;
    }
    Dump();
    if (!toolkit_.modalScripts.empty()) {
        HeadlessToolkit::Script script = std::move(toolkit_.modalScripts.front());
        toolkit_.modalScripts.pop_front();
        script(*this);
    }
    while (!ended_ && !toolkit_.steps.empty()) {
        const std::string step = toolkit_.steps.front();
        toolkit_.steps.pop_front();
        Perform(step);
    }
    if (!ended_) {
        ended_ = true;
        result_ = cmd::Cancel;
    }
    running_ = false;
    shown_ = false;
    return result_;
}

void HeadlessDialog::Minimize() {
    minimized_ = true;
}
void HeadlessDialog::Restore() {
    minimized_ = false;
}
bool HeadlessDialog::IsMinimized() const {
    return minimized_;
}

int HeadlessDialog::PopupMenu(const std::vector<MenuItem>& items) {
    toolkit_.menusShown.push_back(items);
    if (toolkit_.menuAnswers.empty()) return 0;
    const int answer = toolkit_.menuAnswers.front();
    toolkit_.menuAnswers.pop_front();
    // A greyed item cannot be chosen.
    for (const MenuItem& item : items)
        if (item.command == answer && item.command != 0) return item.enabled ? answer : 0;
    return 0;
}

void HeadlessDialog::DumpInto(UiDumpWindow& dump, int dx, int dy) const {
    for (const Control& c : controls_) {
        std::string text = c.text;
        if (c.source.kind == ControlKind::ComboBoxEx)
            text = SelectedListText(c.items, c.selection);
        if (c.source.kind == ControlKind::ProgressBar) text = std::to_string(c.progress);
        if (c.source.kind == ControlKind::Tree)
            text = TreeItemText(c.source.id, SelectedTreeItem(c.source.id));
        if (IsButtonKind(c.source.kind)) text = ReadableLabel(c.text);
        const bool focused =
            toolkit_.focusDialog == this && toolkit_.focusId == c.source.id && c.source.id != 0;
        dump.controls.push_back({UiDumpClassOf(c.source.kind), c.source.id, text, c.rect.x + dx,
                                 c.rect.y + dy, c.rect.w, c.rect.h,
                                 UiDumpStates(c.source.id != 0 && c.source.id == defaultButton_ &&
                                                  (c.source.kind == ControlKind::PushButton ||
                                                   c.source.kind == ControlKind::DefPushButton),
                                              focused, c.enabled, c.visible, c.checked, c.readOnly,
                                              (c.source.flags & ctl::RtlReading) != 0)});
    }
    for (const HeadlessDialog* child : children_)
        if (child->shown_) child->DumpInto(dump, dx + child->rect_.x, dy + child->rect_.y);
}

void HeadlessDialog::Dump() {
    if (parent_) return TopLevel().Dump();
    if (!shown_ || UiDumpPath().empty()) return;
    UiDumpWindow dump{windowClass_, title_, rect_.x, rect_.y, rect_.w, rect_.h, {}};
    DumpInto(dump, 0, 0);
    AppendUiDump(dump);
}

void HeadlessDialog::SetWindowClass(const std::string& name) {
    windowClass_ = name;
}

bool HeadlessDialog::HasControl(int id) const {
    return Find(id) != nullptr;
}
void HeadlessDialog::SetText(int id, const std::string& text) {
    if (Control* c = Find(id)) c->text = text;
}
std::string HeadlessDialog::Text(int id) const {
    const Control* c = Find(id);
    return c ? c->text : std::string();
}
void HeadlessDialog::Enable(int id, bool enabled) {
    if (Control* c = Find(id)) c->enabled = enabled;
}
bool HeadlessDialog::IsEnabled(int id) const {
    const Control* c = Find(id);
    return c && c->enabled;
}
void HeadlessDialog::Show(int id, bool visible) {
    if (Control* c = Find(id)) c->visible = visible;
}
bool HeadlessDialog::IsVisible(int id) const {
    const Control* c = Find(id);
    return c && c->visible;
}
void HeadlessDialog::SetChecked(int id, bool checked) {
    if (Control* c = Find(id)) c->checked = checked;
}
bool HeadlessDialog::IsChecked(int id) const {
    const Control* c = Find(id);
    return c && c->checked;
}
void HeadlessDialog::SetReadOnly(int id, bool readOnly) {
    if (Control* c = Find(id)) c->readOnly = readOnly;
}
bool HeadlessDialog::IsReadOnly(int id) const {
    const Control* c = Find(id);
    return c && c->readOnly;
}
void HeadlessDialog::SetTextLimit(int id, int characters) {
    if (Control* c = Find(id)) c->limit = characters;
}
int HeadlessDialog::TextLimit(int id) const {
    const Control* c = Find(id);
    return c ? c->limit : 0;
}
Rect HeadlessDialog::ControlRect(int id) const {
    const Control* c = Find(id);
    return c ? c->rect : Rect{};
}
void HeadlessDialog::SetControlRect(int id, const Rect& rect) {
    if (Control* c = Find(id)) c->rect = rect;
}
void HeadlessDialog::SetFocus(int id) {
    if (!Find(id)) return;
    toolkit_.focusDialog = this;
    toolkit_.focusId = id;
}
int HeadlessDialog::Focus() const {
    return toolkit_.focusDialog == this ? toolkit_.focusId : 0;
}
void HeadlessDialog::SetDefaultButton(int id) {
    defaultButton_ = id;
}
int HeadlessDialog::DefaultButton() const {
    return defaultButton_;
}

int HeadlessDialog::AddImage(int id, const Image& image) {
    Control* c = Find(id);
    if (!c || image.width <= 0 || image.height <= 0) return -1;
    return c->images++;
}
int HeadlessDialog::ImageCount(int id) const {
    const Control* c = Find(id);
    return c ? c->images : 0;
}
int HeadlessDialog::InsertItem(int id, int position, const ListItem& item) {
    Control* c = Find(id);
    if (!c) return -1;
    position = InsertListItem(c->items, c->selection, position, item);
    return position;
}
int HeadlessDialog::ItemCount(int id) const {
    const Control* c = Find(id);
    return c ? static_cast<int>(c->items.size()) : 0;
}
std::optional<ListItem> HeadlessDialog::Item(int id, int position) const {
    const Control* c = Find(id);
    if (!c || position < 0 || position >= static_cast<int>(c->items.size())) return std::nullopt;
    return c->items[position];
}
void HeadlessDialog::ClearItems(int id) {
    if (Control* c = Find(id)) {
        c->items.clear();
        c->selection = -1;
    }
}
void HeadlessDialog::SetSelection(int id, int position) {
    Control* c = Find(id);
    if (!c) return;
    c->selection = position >= 0 && position < static_cast<int>(c->items.size()) ? position : -1;
}
int HeadlessDialog::Selection(int id) const {
    const Control* c = Find(id);
    return c ? c->selection : -1;
}
void HeadlessDialog::SetDropWidth(int id, int pixels) {
    if (Control* c = Find(id)) c->dropWidth = pixels;
}
int HeadlessDialog::DropWidth(int id) const {
    const Control* c = Find(id);
    return c ? c->dropWidth : 0;
}
void HeadlessDialog::AppendText(int id, const std::string& text) {
    if (Control* c = Find(id)) c->text += text;
}
void HeadlessDialog::ScrollToTop(int) {}
int HeadlessDialog::TextAreaWidth(int id) const {
    const Control* c = Find(id);
    if (!c) return 0;
    // A border of 2 on each side, the scroll bar and 1-pixel margins.
    int width = c->rect.w - 4 - 2;
    if (c->source.flags & ctl::VScroll) width -= 17;
    return std::max(0, width);
}
void HeadlessDialog::SetProgress(int id, int percent) {
    if (Control* c = Find(id)) c->progress = std::clamp(percent, 0, 100);
}
int HeadlessDialog::Progress(int id) const {
    const Control* c = Find(id);
    return c ? c->progress : 0;
}

// ---- HeadlessToolkit ----

std::unique_ptr<Dialog> HeadlessToolkit::CreateDialog(const DialogTemplate& dialog, Dialog* parent,
                                                      Window*) {
    return std::make_unique<HeadlessDialog>(*this, dialog, static_cast<HeadlessDialog*>(parent));
}

void HeadlessToolkit::PumpEvents() {
    if (onPump) onPump();
}

}  // namespace mw::platform
