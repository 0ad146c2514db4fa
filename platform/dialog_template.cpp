#include "platform/dialog_template.hpp"

#include <charconv>
#include <cstring>
#include <set>
#include <utility>

namespace mw::platform {
namespace {

constexpr char Magic[4] = {'M', 'W', 'D', '1'};

struct Word {
    const char* name;
    uint32_t value;
};

constexpr std::pair<const char*, ControlKind> KindNames[] = {
    {"pushbutton", ControlKind::PushButton},
    {"defpushbutton", ControlKind::DefPushButton},
    {"groupbox", ControlKind::GroupBox},
    {"radiobutton", ControlKind::RadioButton},
    {"checkbox", ControlKind::CheckBox},
    {"text", ControlKind::Text},
    {"whiterect", ControlKind::WhiteRect},
    {"bitmap", ControlKind::Bitmap},
    {"icon", ControlKind::Icon},
    {"etchedline", ControlKind::EtchedLine},
    {"edit", ControlKind::Edit},
    {"comboboxex", ControlKind::ComboBoxEx},
    {"progressbar", ControlKind::ProgressBar},
    {"tree", ControlKind::Tree},
};

constexpr Word DialogWords[] = {
    {"popup", dlg::Popup},         {"child", dlg::Child},           {"caption", dlg::Caption},
    {"sysmenu", dlg::SysMenu},     {"modalframe", dlg::ModalFrame}, {"control", dlg::Control},
    {"appwindow", dlg::AppWindow}, {"visible", dlg::Visible},       {"border", dlg::Border},
};

constexpr Word ControlWords[] = {
    {"tabstop", ctl::TabStop},
    {"group", ctl::Group},
    {"noprefix", ctl::NoPrefix},
    {"right", ctl::Right},
    {"sunken", ctl::Sunken},
    {"disabled", ctl::Disabled},
    {"multiline", ctl::MultiLine},
    {"readonly", ctl::ReadOnly},
    {"autohscroll", ctl::AutoHScroll},
    {"autovscroll", ctl::AutoVScroll},
    {"vscroll", ctl::VScroll},
    {"border", ctl::Border},
    {"dropdownlist", ctl::DropDownList},
    {"sort", ctl::Sort},
    {"smooth", ctl::Smooth},
    {"hidden", ctl::Hidden},
    {"rtlreading", ctl::RtlReading},
};

bool KnownKind(uint16_t kind) {
    return kind >= 1 && kind <= uint16_t(ControlKind::Tree);
}

// Binary writing and reading.
void Put16(std::vector<std::byte>& out, uint16_t v) {
    out.push_back(std::byte(v & 0xFF));
    out.push_back(std::byte(v >> 8));
}
void Put32(std::vector<std::byte>& out, uint32_t v) {
    Put16(out, uint16_t(v));
    Put16(out, uint16_t(v >> 16));
}
void PutText(std::vector<std::byte>& out, const std::string& text) {
    std::size_t n = std::min<std::size_t>(text.size(), 0xFFFF);
    Put16(out, uint16_t(n));
    for (std::size_t i = 0; i < n; ++i) out.push_back(std::byte(text[i]));
}

class Reader {
public:
    explicit Reader(std::span<const std::byte> bytes) : bytes_(bytes) {}
    bool U16(uint16_t& v) {
        if (!Have(2)) return false;
        v = uint16_t(uint8_t(bytes_[pos_])) | uint16_t(uint8_t(bytes_[pos_ + 1])) << 8;
        pos_ += 2;
        return true;
    }
    bool I16(int16_t& v) {
        uint16_t u;
        if (!U16(u)) return false;
        v = static_cast<int16_t>(u);
        return true;
    }
    bool U32(uint32_t& v) {
        uint16_t lo, hi;
        if (!U16(lo) || !U16(hi)) return false;
        v = uint32_t(lo) | uint32_t(hi) << 16;
        return true;
    }
    bool Text(std::string& s) {
        uint16_t n;
        if (!U16(n) || !Have(n)) return false;
        s.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
        pos_ += n;
        return true;
    }
    bool Skip(std::size_t n) {
        if (!Have(n)) return false;
        pos_ += n;
        return true;
    }
    bool AtEnd() const { return pos_ == bytes_.size(); }

private:
    bool Have(std::size_t n) const { return bytes_.size() - pos_ >= n; }
    std::span<const std::byte> bytes_;
    std::size_t pos_ = 0;
};

// Source tokenizer: blanks separate, "..." is one token with escapes.
struct Token {
    std::string text;
    bool quoted = false;
};

bool Tokenize(std::string_view line, std::vector<Token>& out, std::string& error) {
    out.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        Token t;
        if (line[i] == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (i == line.size()) break;
                    char e = line[i++];
                    switch (e) {
                        case 'n':
                            c = '\n';
                            break;
                        case 'r':
                            c = '\r';
                            break;
                        case 't':
                            c = '\t';
                            break;
                        case '"':
                            c = '"';
                            break;
                        case '\\':
                            c = '\\';
                            break;
                        default:
                            error = std::string("unknown escape \\") + e;
                            return false;
                    }
                }
                t.text += c;
            }
            if (!closed) {
                error = "unterminated text";
                return false;
            }
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') t.text += line[i++];
        }
        out.push_back(std::move(t));
    }
    return true;
}

template <typename T>
bool Number(const Token& token, T& value) {
    if (token.quoted) return false;
    long long v = 0;
    auto [ptr, ec] = std::from_chars(token.text.data(), token.text.data() + token.text.size(), v);
    if (ec != std::errc{} || ptr != token.text.data() + token.text.size()) return false;
    if (!std::in_range<T>(v)) return false;
    value = static_cast<T>(v);
    return true;
}

template <std::size_t N>
bool LookUpWord(const Word (&words)[N], const std::string& name, uint32_t& value) {
    for (const Word& w : words) {
        if (name == w.name) {
            value = w.value;
            return true;
        }
    }
    return false;
}

}  // namespace

const DialogControl* DialogTemplate::Find(int32_t id) const {
    for (const auto& c : controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

std::vector<std::byte> SerializeDialogTemplate(const DialogTemplate& d) {
    std::vector<std::byte> out;
    for (char c : Magic) out.push_back(std::byte(c));
    Put32(out, d.style);
    for (int16_t v : {d.x, d.y, d.width, d.height}) Put16(out, uint16_t(v));
    Put16(out, d.fontPoints);
    Put16(out, uint16_t(std::min<std::size_t>(d.controls.size(), 0xFFFF)));
    PutText(out, d.caption);
    PutText(out, d.fontFace);
    for (std::size_t i = 0; i < d.controls.size() && i < 0xFFFF; ++i) {
        const DialogControl& c = d.controls[i];
        Put32(out, uint32_t(c.id));
        Put16(out, uint16_t(c.kind));
        Put16(out, 0);
        Put32(out, c.flags);
        for (int16_t v : {c.x, c.y, c.width, c.height}) Put16(out, uint16_t(v));
        Put32(out, c.image);
        PutText(out, c.text);
    }
    return out;
}

std::optional<DialogTemplate> ParseDialogTemplate(std::span<const std::byte> bytes) {
    if (bytes.size() < sizeof Magic || std::memcmp(bytes.data(), Magic, sizeof Magic) != 0) {
        return std::nullopt;
    }
    Reader r(bytes);
    r.Skip(sizeof Magic);
    DialogTemplate d;
    uint16_t count = 0;
    if (!r.U32(d.style) || !r.I16(d.x) || !r.I16(d.y) || !r.I16(d.width) || !r.I16(d.height) ||
        !r.U16(d.fontPoints) || !r.U16(count) || !r.Text(d.caption) || !r.Text(d.fontFace)) {
        return std::nullopt;
    }
    for (uint16_t i = 0; i < count; ++i) {
        DialogControl c;
        uint32_t id;
        uint16_t kind, reserved;
        if (!r.U32(id) || !r.U16(kind) || !r.U16(reserved) || !r.U32(c.flags) || !r.I16(c.x) ||
            !r.I16(c.y) || !r.I16(c.width) || !r.I16(c.height) || !r.U32(c.image) ||
            !r.Text(c.text) || !KnownKind(kind)) {
            return std::nullopt;
        }
        c.id = static_cast<int32_t>(id);
        c.kind = static_cast<ControlKind>(kind);
        d.controls.push_back(std::move(c));
    }
    if (!r.AtEnd()) return std::nullopt;
    return d;
}

std::optional<DialogTemplate> LoadDialogTemplate(const ResourceBundle& bundle, uint32_t id) {
    auto bytes = bundle.Find(rt::Dialog, id);
    if (bytes.empty()) return std::nullopt;
    return ParseDialogTemplate(bytes);
}

bool ParseDialogSource(std::string_view text, uint32_t& id, DialogTemplate& out,
                       std::string& error) {
    out = DialogTemplate{};
    bool haveId = false, haveSize = false;
    std::set<int32_t> ids;
    std::size_t lineNo = 0;
    std::vector<Token> tokens;
    auto fail = [&](const std::string& message) {
        error = "line " + std::to_string(lineNo) + ": " + message;
        return false;
    };
    while (!text.empty()) {
        ++lineNo;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string tokenError;
        if (!Tokenize(line, tokens, tokenError)) return fail(tokenError);
        if (tokens.empty() || (!tokens[0].quoted && tokens[0].text.starts_with('#'))) continue;
        const std::string& keyword = tokens[0].text;
        std::size_t n = tokens.size();
        if (keyword == "dialog") {
            if (n != 2 || !Number(tokens[1], id) || id == 0) return fail("expected: dialog ID");
            haveId = true;
        } else if (keyword == "size") {
            if (n != 3 || !Number(tokens[1], out.width) || !Number(tokens[2], out.height) ||
                out.width <= 0 || out.height <= 0) {
                return fail("expected: size WIDTH HEIGHT");
            }
            haveSize = true;
        } else if (keyword == "font") {
            if (n != 3 || !tokens[1].quoted || !Number(tokens[2], out.fontPoints)) {
                return fail("expected: font \"FACE\" POINTS");
            }
            out.fontFace = tokens[1].text;
        } else if (keyword == "caption") {
            if (n != 2 || !tokens[1].quoted) return fail("expected: caption \"TEXT\"");
            out.caption = tokens[1].text;
        } else if (keyword == "style") {
            for (std::size_t i = 1; i < n; ++i) {
                uint32_t bit;
                if (!LookUpWord(DialogWords, tokens[i].text, bit)) {
                    return fail("unknown dialog style " + tokens[i].text);
                }
                out.style |= bit;
            }
        } else if (keyword == "control") {
            DialogControl c;
            if (n < 8 || !Number(tokens[1], c.id)) {
                return fail("expected: control ID KIND TEXT X Y WIDTH HEIGHT [FLAG...]");
            }
            bool kindFound = false;
            for (auto [name, kind] : KindNames) {
                if (tokens[2].text == name && !tokens[2].quoted) {
                    c.kind = kind;
                    kindFound = true;
                }
            }
            if (!kindFound) return fail("unknown control kind " + tokens[2].text);
            if (c.kind == ControlKind::Bitmap || c.kind == ControlKind::Icon) {
                if (!Number(tokens[3], c.image) || c.image == 0) {
                    return fail("a bitmap or icon control names its image by number");
                }
            } else if (!tokens[3].quoted) {
                return fail("the text of a control is quoted");
            } else {
                c.text = tokens[3].text;
            }
            if (!Number(tokens[4], c.x) || !Number(tokens[5], c.y) || !Number(tokens[6], c.width) ||
                !Number(tokens[7], c.height) || c.width < 0 || c.height < 0) {
                return fail("bad rectangle");
            }
            for (std::size_t i = 8; i < n; ++i) {
                uint32_t bit;
                if (!LookUpWord(ControlWords, tokens[i].text, bit)) {
                    return fail("unknown control flag " + tokens[i].text);
                }
                c.flags |= bit;
            }
            if (c.id != -1 && !ids.insert(c.id).second) {
                return fail("control id " + std::to_string(c.id) + " twice");
            }
            out.controls.push_back(std::move(c));
        } else {
            return fail("unknown statement " + keyword);
        }
    }
    if (!haveId || !haveSize) {
        error = "a dialog needs its 'dialog ID' and 'size' lines";
        return false;
    }
    return true;
}

}  // namespace mw::platform
