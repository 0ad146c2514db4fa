// mwtool reg: reads and changes the machine registry store ($MW_ROOT) from
// the command line, and dumps a subtree in a stable, readable form for tests
// and snapshots.
//
// Dump format: "[KEY]" then one line per value, `"name"=<data>` (the default
// value as @), then the subkeys, depth first, each sorted by folded name.
// <data> is sz:"text" / expand_sz:"text" (escapes \\ \" \n \r \t \xNN) for
// string values that read as text, dword:0x%08x / qword:0x%016x for values of
// exactly that size, and <type>:hex:<bytes> for everything else, the type by
// name or as type(N).
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "command.hpp"
#include "platform/os_error.hpp"
#include "platform/registry.hpp"

namespace {

using mw::platform::MachineRegistry;
using mw::platform::Registry;
using mw::platform::RegType;
using mw::platform::RegValue;

const char* TypeName(RegType t) {
    switch (t) {
        case RegType::None:
            return "none";
        case RegType::Sz:
            return "sz";
        case RegType::ExpandSz:
            return "expand_sz";
        case RegType::Binary:
            return "binary";
        case RegType::Dword:
            return "dword";
        case RegType::DwordBigEndian:
            return "dword_be";
        case RegType::Link:
            return "link";
        case RegType::MultiSz:
            return "multi_sz";
        case RegType::Qword:
            return "qword";
    }
    return nullptr;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string Render(const RegValue& v) {
    char buf[40];
    if (auto text = v.Text()) return std::string(TypeName(v.type)) + ":" + Quote(*text);
    if (auto d = v.DwordValue()) {
        std::snprintf(buf, sizeof buf, "dword:0x%08" PRIx32, *d);
        return buf;
    }
    if (v.type == RegType::Qword && v.data.size() == 8) {
        uint64_t q = 0;
        for (int i = 7; i >= 0; --i) q = (q << 8) | v.data[i];
        std::snprintf(buf, sizeof buf, "qword:0x%016" PRIx64, q);
        return buf;
    }
    std::string out;
    if (const char* name = TypeName(v.type)) {
        out = name;
    } else {
        std::snprintf(buf, sizeof buf, "type(%" PRIu32 ")", static_cast<uint32_t>(v.type));
        out = buf;
    }
    out += ":hex:";
    for (uint8_t b : v.data) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

std::string ValueLine(const std::string& name, const RegValue& v) {
    return (name.empty() ? std::string("@") : Quote(name)) + "=" + Render(v);
}

int Fail(const std::string& what, std::error_code ec) {
    std::fprintf(stderr, "mwtool reg: %s: %s\n", what.c_str(), ec.message().c_str());
    return 1;
}

// Prints the key's values; false with a message on error.
bool PrintValues(Registry& reg, const std::string& key) {
    std::error_code ec;
    auto names = reg.ValueNames(key, ec);
    if (ec) return Fail(key, ec), false;
    for (const auto& name : names) {
        auto v = reg.GetValue(key, name, ec);
        if (ec) return Fail(key, ec), false;
        if (v) std::printf("%s\n", ValueLine(name, *v).c_str());
    }
    return true;
}

bool Export(Registry& reg, const std::string& key) {
    std::printf("[%s]\n", key.c_str());
    if (!PrintValues(reg, key)) return false;
    std::error_code ec;
    auto subs = reg.SubKeys(key, ec);
    if (ec) return Fail(key, ec), false;
    for (const auto& sub : subs) {
        std::printf("\n");
        if (!Export(reg, key.empty() ? sub : key + "\\" + sub)) return false;
    }
    return true;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& out) {
    std::string digits;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' ||
        std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || *end || v > max) return false;
    out = v;
    return true;
}

bool ParseValue(const std::string& type, const std::string& data, RegValue& out) {
    uint64_t n;
    if (type == "sz")
        out = RegValue::String(data, RegType::Sz);
    else if (type == "expand_sz")
        out = RegValue::String(data, RegType::ExpandSz);
    else if (type == "dword" && ParseNumber(data, UINT32_MAX, n))
        out = RegValue::Dword(static_cast<uint32_t>(n));
    else if (type == "qword" && ParseNumber(data, UINT64_MAX, n))
        out = RegValue::Qword(n);
    else if (type == "binary") {
        std::vector<uint8_t> bytes;
        if (!ParseHex(data, bytes)) return false;
        out = RegValue::Binary(std::move(bytes));
    } else
        return false;
    return true;
}

constexpr const char* kUsage =
    "reg query KEY [VALUE] | reg set KEY VALUE sz|expand_sz|dword|qword|binary DATA | "
    "reg delete KEY [VALUE] | reg export KEY | reg save KEY FILE | reg restore KEY FILE";

int Usage() {
    std::fprintf(stderr, "usage: mwtool %s\n", kUsage);
    return 2;
}

int Reg(const mwtool::Args& args) {
    if (args.empty()) return Usage();
    const std::string& verb = args[0];
    Registry& reg = MachineRegistry();
    std::error_code ec;
    if (verb == "query" && (args.size() == 2 || args.size() == 3)) {
        const std::string& key = args[1];
        if (args.size() == 3) {
            auto v = reg.GetValue(key, args[2], ec);
            if (ec) return Fail(key, ec);
            if (!v)
                return Fail(key + " " + Quote(args[2]),
                            mw::platform::OsError(std::errc::no_such_file_or_directory));
            std::printf("%s\n", Render(*v).c_str());
            return 0;
        }
        if (!reg.KeyExists(key, ec)) {
            return Fail(key, ec ? ec : mw::platform::OsError(std::errc::no_such_file_or_directory));
        }
        if (!PrintValues(reg, key)) return 1;
        auto subs = reg.SubKeys(key, ec);
        if (ec) return Fail(key, ec);
        for (const auto& sub : subs)
            std::printf("[%s]\n", (key.empty() ? sub : key + "\\" + sub).c_str());
        return 0;
    }
    if (verb == "set" && args.size() == 5) {
        RegValue v;
        if (!ParseValue(args[3], args[4], v)) {
            std::fprintf(stderr, "mwtool reg: bad %s data: %s\n", args[3].c_str(), args[4].c_str());
            return 2;
        }
        if ((ec = reg.CreateKey(args[1]))) return Fail(args[1], ec);
        if ((ec = reg.SetValue(args[1], args[2], v))) return Fail(args[1], ec);
        return 0;
    }
    if (verb == "delete" && (args.size() == 2 || args.size() == 3)) {
        ec = args.size() == 3 ? reg.DeleteValue(args[1], args[2]) : reg.DeleteTree(args[1]);
        return ec ? Fail(args[1], ec) : 0;
    }
    if (verb == "export" && args.size() == 2) {
        if (!reg.KeyExists(args[1], ec))
            return Fail(args[1],
                        ec ? ec : mw::platform::OsError(std::errc::no_such_file_or_directory));
        return Export(reg, args[1]) ? 0 : 1;
    }
    if (verb == "save" && args.size() == 3) {
        return (ec = reg.SaveKey(args[1], args[2])) ? Fail(args[1], ec) : 0;
    }
    if (verb == "restore" && args.size() == 3) {
        return (ec = reg.RestoreKey(args[1], args[2])) ? Fail(args[1], ec) : 0;
    }
    return Usage();
}

const mwtool::Command kReg{"reg", kUsage, Reg};

}  // namespace
