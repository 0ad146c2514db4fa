// Dialog templates: the layout of the wizard host, its six pages and the
// About box in dialog units, as the resource compiler stores them (resource
// type 5) and the wizard reads them back to build its windows.
//
// Source form (res/dialogs/*.dlg), one dialog per file, one statement a line,
// tokens separated by blanks, texts in double quotes with the escapes
// backslash-quote, double backslash, \n, \r and \t; '#' starts a comment line:
//
//   dialog 132                         resource id
//   size 251 84                        width and height in dialog units
//   font "MS Shell Dlg" 8              face and point size
//   caption "Install"                  optional
//   style child control                dialog style words (DialogStyle)
//   control ID KIND TEXT X Y W H [FLAG...]
//
// A control's TEXT is a quoted text, or for the kinds `bitmap` and `icon` the
// number of the image resource. Controls keep the order of the source (it is
// the tab order). KIND and FLAG words are the names below, lower case.
//
// Binary form (all numbers little-endian, texts as u16 byte count + UTF-8):
//
//   char magic[4] "MWD1", u32 dialog style, i16 x, y, width, height,
//   u16 font points, u16 control count, text caption, text font face,
//   then per control: i32 id, u16 kind, u16 0, u32 control flags,
//   i16 x, y, width, height, u32 image resource id, text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/resources.hpp"

namespace mw::platform {

enum class ControlKind : uint16_t {
    PushButton = 1,     // pushbutton
    DefPushButton = 2,  // defpushbutton: the default button
    GroupBox = 3,       // groupbox
    RadioButton = 4,    // radiobutton: automatic
    CheckBox = 5,       // checkbox: automatic
    Text = 6,           // text: static text
    WhiteRect = 7,      // whiterect: static, white filled rectangle
    Bitmap = 8,         // bitmap: static bitmap at the bitmap's own size
    Icon = 9,           // icon: static icon
    EtchedLine = 10,    // etchedline: static, etched horizontal line
    Edit = 11,          // edit
    ComboBoxEx = 12,    // comboboxex: extended combo box (items with images)
    ProgressBar = 13,   // progressbar
    Tree = 14,          // tree: folders and the like, expandable
};

// Dialog style words.
namespace dlg {
inline constexpr uint32_t Popup = 1u << 0;       // popup
inline constexpr uint32_t Child = 1u << 1;       // child
inline constexpr uint32_t Caption = 1u << 2;     // caption
inline constexpr uint32_t SysMenu = 1u << 3;     // sysmenu
inline constexpr uint32_t ModalFrame = 1u << 4;  // modalframe
inline constexpr uint32_t Control = 1u << 5;     // control: Tab moves on into the parent
inline constexpr uint32_t AppWindow = 1u << 6;   // appwindow: shown in the task bar
inline constexpr uint32_t Visible = 1u << 7;     // visible
inline constexpr uint32_t Border = 1u << 8;      // border
}  // namespace dlg

// Control flag words.
namespace ctl {
inline constexpr uint32_t TabStop = 1u << 0;        // tabstop
inline constexpr uint32_t Group = 1u << 1;          // group
inline constexpr uint32_t NoPrefix = 1u << 2;       // noprefix: '&' is shown as is
inline constexpr uint32_t Right = 1u << 3;          // right: right-aligned text
inline constexpr uint32_t Sunken = 1u << 4;         // sunken
inline constexpr uint32_t Disabled = 1u << 5;       // disabled
inline constexpr uint32_t MultiLine = 1u << 6;      // multiline
inline constexpr uint32_t ReadOnly = 1u << 7;       // readonly
inline constexpr uint32_t AutoHScroll = 1u << 8;    // autohscroll
inline constexpr uint32_t AutoVScroll = 1u << 9;    // autovscroll
inline constexpr uint32_t VScroll = 1u << 10;       // vscroll: vertical scroll bar
inline constexpr uint32_t Border = 1u << 11;        // border
inline constexpr uint32_t DropDownList = 1u << 12;  // dropdownlist
inline constexpr uint32_t Sort = 1u << 13;          // sort
inline constexpr uint32_t Smooth = 1u << 14;        // smooth: progress without blocks
inline constexpr uint32_t Hidden = 1u << 15;        // hidden: not visible when created
inline constexpr uint32_t RtlReading = 1u << 16;    // rtlreading: right-to-left reading order
}  // namespace ctl

struct DialogControl {
    int32_t id = 0;  // -1: a control nobody addresses
    ControlKind kind = ControlKind::Text;
    uint32_t flags = 0;
    int16_t x = 0, y = 0, width = 0, height = 0;  // dialog units
    std::string text;
    uint32_t image = 0;  // bitmap or icon resource of Bitmap and Icon controls
    bool operator==(const DialogControl&) const = default;
};

struct DialogTemplate {
    uint32_t style = 0;
    int16_t x = 0, y = 0, width = 0, height = 0;  // dialog units
    std::string caption;
    std::string fontFace;
    uint16_t fontPoints = 0;
    std::vector<DialogControl> controls;
    bool operator==(const DialogTemplate&) const = default;

    // The control with that id, or null.
    const DialogControl* Find(int32_t id) const;
};

std::vector<std::byte> SerializeDialogTemplate(const DialogTemplate& dialog);
// nullopt when the bytes are not a whole, well-formed template.
std::optional<DialogTemplate> ParseDialogTemplate(std::span<const std::byte> bytes);
// Template `id` of a bundle; nullopt when absent or malformed.
std::optional<DialogTemplate> LoadDialogTemplate(const ResourceBundle& bundle, uint32_t id);

// Parses the source form; a mistake fails with "line N: ..." in `error`.
bool ParseDialogSource(std::string_view text, uint32_t& id, DialogTemplate& out,
                       std::string& error);

}  // namespace mw::platform
