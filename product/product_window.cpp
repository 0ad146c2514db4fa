#include "product/product_window.hpp"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>

#include <string>
#include <vector>

#include "app/identity.hpp"
#include "app/text_format.hpp"
#include "platform/ui/fltk_setup.hpp"
#include "platform/ui_dump.hpp"
#include "product/inventory.hpp"
#include "product/product_texts.hpp"

namespace mw::product {
namespace {

constexpr int kWidth = 420;
constexpr int kMargin = 12;
constexpr int kLine = 22;
constexpr int kListHeight = 96;
constexpr int32_t kJapanese = 18;

// FLTK starts a symbol at '@' in a label.
std::string LabelText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '@') out += '@';
        out += c;
    }
    return out;
}

// The list shows names as they are (its format characters are off).
void Fill(Fl_Browser& list, const std::vector<std::string>& names, const std::string& none) {
    if (names.empty()) {
        list.add(none.c_str());
        return;
    }
    for (const std::string& name : names) list.add(name.c_str());
}

std::string Joined(const std::vector<std::string>& names, const std::string& none) {
    if (names.empty()) return none;
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : "\n") + name;
    return text;
}

}  // namespace

bool ShowProductWindow(const Inventory& inventory, int32_t language) {
    if (!platform::EnsureFltkDisplay()) return false;
    // FLTK draws a text in one font without fallback: Japanese needs a font
    // with its characters (DejaVu, the default, has none).
    Fl_Font font = FL_HELVETICA, bold = FL_HELVETICA_BOLD;
    if (language == kJapanese) {
        // The first character of an Xft font name is its style: ' ' plain,
        // 'B' bold.
        Fl::set_font(FL_FREE_FONT, " IPAGothic");
        Fl::set_font(static_cast<Fl_Font>(FL_FREE_FONT + 1), "BIPAGothic");
        font = FL_FREE_FONT;
        bold = static_cast<Fl_Font>(FL_FREE_FONT + 1);
    }
    auto text = [language](Text id) { return ProductTextIn(language, id); };
    const std::string caption = ProductDisplayName(false);
    const std::string version = FormatMessageText(text(Text::Version), {inventory.version});
    const std::string none = text(Text::NoneFound);
    // Labels keep pointers to their texts: they live until the window goes.
    const std::string title = LabelText(caption), versionLabel = LabelText(version),
                      librariesLabel = LabelText(text(Text::Libraries)),
                      texturesLabel = LabelText(text(Text::Textures)),
                      closeLabel = LabelText(text(Text::Close));

    int y = kMargin;
    const int height = kMargin + 2 * kLine + 2 * (kLine + kListHeight + 8) + 30 + kMargin;
    Fl_Double_Window window(kWidth, height, title.c_str());
    auto* name = new Fl_Box(kMargin, y, kWidth - 2 * kMargin, kLine, title.c_str());
    name->labelfont(bold);
    name->labelsize(16);
    name->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    y += kLine;
    auto* versionBox = new Fl_Box(kMargin, y, kWidth - 2 * kMargin, kLine, versionLabel.c_str());
    versionBox->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    versionBox->labelfont(font);
    y += kLine + 4;

    struct Section {
        const std::string& heading;
        const std::vector<std::string>& names;
        int id;
    };
    const Section sections[] = {{librariesLabel, inventory.libraries, 1001},
                                {texturesLabel, inventory.textures, 1002}};
    platform::UiDumpWindow dump{"ProductWindow", caption, 0, 0, kWidth, height, {}};
    dump.controls.push_back({"Static", 1000, version, versionBox->x(), versionBox->y(),
                             versionBox->w(), versionBox->h(), ""});
    for (const Section& section : sections) {
        auto* heading =
            new Fl_Box(kMargin, y, kWidth - 2 * kMargin, kLine, section.heading.c_str());
        heading->labelfont(bold);
        heading->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
        y += kLine;
        auto* list = new Fl_Browser(kMargin, y, kWidth - 2 * kMargin, kListHeight);
        list->format_char(0);
        list->textfont(font);
        Fill(*list, section.names, none);
        dump.controls.push_back({"Static", section.id - 100, section.heading, heading->x(),
                                 heading->y(), heading->w(), heading->h(), ""});
        dump.controls.push_back({"ListBox", section.id, Joined(section.names, none), list->x(),
                                 list->y(), list->w(), list->h(), ""});
        y += kListHeight + 8;
    }
    auto* close = new Fl_Button(kWidth - kMargin - 90, y, 90, 28, closeLabel.c_str());
    close->labelfont(font);
    close->callback([](Fl_Widget* w, void*) { w->window()->hide(); });
    dump.controls.push_back({"Button", 1, text(Text::Close), close->x(), close->y(), close->w(),
                             close->h(), "default"});
    window.end();
    // Without a window manager the window must be placed by us.
    window.position((Fl::w() - kWidth) / 2, (Fl::h() - height) / 2);
    window.show();
    Fl::flush();
    dump.x = window.x();
    dump.y = window.y();
    platform::AppendUiDump(dump);
    while (window.shown()) Fl::wait();
    return true;
}

}  // namespace mw::product
