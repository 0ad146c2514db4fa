// mwtool res: compiles the resource sources into a bundle, attaches bundles
// to executables, and lists, extracts, adds, replaces or removes single
// resources of a built file without relinking it.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "command.hpp"
#include "platform/rc/resource_compiler.hpp"
#include "platform/resource_writer.hpp"
#include "platform/resources.hpp"

namespace mwtool {
namespace {

namespace mp = mw::platform;

constexpr const char* Usage =
    "res list FILE|--own | get FILE TYPE NAME [LANG] [-o OUT] | set FILE TYPE NAME [LANG] DATAFILE "
    "| "
    "remove FILE TYPE NAME [LANG] | attach FILE BUNDLE [--raw TYPE NAME LANG DATAFILE]... | "
    "build [RESDIR] OUTFILE [--version F] [--manifest F] [--strings DIR] [--dialogs DIR] "
    "[--icons DIR] [--bitmaps DIR] [--raw TYPE NAME LANG DATAFILE]...";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr std::pair<const char*, uint32_t> TypeNames[] = {
    {"bitmap", mp::rt::Bitmap},        {"icon", mp::rt::Icon},
    {"dialog", mp::rt::Dialog},        {"string", mp::rt::String},
    {"group-icon", mp::rt::GroupIcon}, {"version", mp::rt::Version},
    {"manifest", mp::rt::Manifest},    {"payload", mp::rt::Payload},
};

std::string TypeName(uint32_t type) {
    for (auto [name, value] : TypeNames) {
        if (value == type) return name;
    }
    return std::to_string(type);
}

uint32_t Number(const std::string& text, const char* what, uint32_t max = UINT32_MAX) {
    std::string_view s = text;
    int base = 10;
    if (s.starts_with("0x") || s.starts_with("0X")) {
        s.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (s.empty() || ec != std::errc{} || ptr != s.data() + s.size() || value > max) {
        throw UsageError(std::string("bad ") + what + " '" + text + "'");
    }
    return value;
}

uint32_t Type(const std::string& text) {
    for (auto [name, value] : TypeNames) {
        if (text == name) return value;
    }
    return Number(text, "resource type");
}

uint16_t Language(const std::string& text) {
    return uint16_t(Number(text, "language", 0xFFFF));
}

std::vector<std::byte> ReadData(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot be read");
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw std::runtime_error(path + ": cannot be read");
    auto p = reinterpret_cast<const std::byte*>(data.data());
    return {p, p + data.size()};
}

void Check(std::error_code ec, const std::string& path) {
    if (ec) throw std::runtime_error(path + ": " + ec.message());
}

mp::ResourceMap Load(const std::string& path) {
    mp::ResourceMap map;
    Check(mp::ReadResources(path, map), path);
    return map;
}

int List(const Args& a) {
    if (a.size() != 1) throw UsageError("list FILE|--own");
    std::error_code ec;
    std::unique_ptr<mp::ResourceBundle> opened;
    const mp::ResourceBundle* bundle = nullptr;
    if (a[0] == "--own") {
        // The tool's own bundle, read the way the installer reads its own.
        bundle = &mp::OwnResources();
    } else {
        opened = mp::OpenResources(a[0], ec);
        if (ec == mp::ResourceError::NoBundle) return 0;
        Check(ec, a[0]);
        bundle = opened.get();
    }
    for (const auto& key : bundle->List()) {
        std::printf("%s %u 0x%04x %zu\n", TypeName(key.type).c_str(), key.name, key.language,
                    bundle->Find(key.type, key.name, key.language).size());
    }
    return 0;
}

int Get(const Args& a) {
    Args rest = a;
    std::string out;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == "-o") {
            if (i + 1 >= rest.size()) throw UsageError("-o needs a file");
            out = rest[i + 1];
            rest.erase(rest.begin() + i, rest.begin() + i + 2);
            break;
        }
    }
    if (rest.size() != 3 && rest.size() != 4)
        throw UsageError("get FILE TYPE NAME [LANG] [-o OUT]");
    uint32_t type = Type(rest[1]);
    uint32_t name = Number(rest[2], "resource name");
    std::optional<uint16_t> language;
    if (rest.size() == 4) language = Language(rest[3]);
    std::error_code ec;
    auto bundle = mp::OpenResources(rest[0], ec);
    Check(ec, rest[0]);
    auto data = bundle->Find(type, name, language);
    if (data.empty()) {
        std::fprintf(stderr, "mwtool res: %s has no resource %s %s%s%s\n", rest[0].c_str(),
                     rest[1].c_str(), rest[2].c_str(), language ? " language " : "",
                     language ? rest[3].c_str() : "");
        return 1;
    }
    if (out.empty()) {
        std::cout.write(reinterpret_cast<const char*>(data.data()), data.size());
        std::cout.flush();
        if (!std::cout) throw std::runtime_error("cannot write to standard output");
    } else {
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data.data()), data.size());
        file.close();
        if (!file) throw std::runtime_error(out + ": cannot be written");
    }
    return 0;
}

int Set(const Args& a) {
    if (a.size() != 4 && a.size() != 5) throw UsageError("set FILE TYPE NAME [LANG] DATAFILE");
    uint32_t type = Type(a[1]);
    uint32_t name = Number(a[2], "resource name");
    auto data = ReadData(a.back());
    auto map = Load(a[0]);
    uint16_t language = 0;
    if (a.size() == 5) {
        language = Language(a[3]);
    } else {
        // Without a language, the one language the resource already has is kept.
        int found = 0;
        for (const auto& [key, bytes] : map) {
            if (key.type == type && key.name == name) {
                language = key.language;
                ++found;
            }
        }
        if (found > 1) throw UsageError("the resource exists in several languages: give LANG");
    }
    map[{type, name, language}] = std::move(data);
    Check(mp::WriteResources(a[0], map), a[0]);
    return 0;
}

int Remove(const Args& a) {
    if (a.size() != 3 && a.size() != 4) throw UsageError("remove FILE TYPE NAME [LANG]");
    uint32_t type = Type(a[1]);
    uint32_t name = Number(a[2], "resource name");
    std::optional<uint16_t> language;
    if (a.size() == 4) language = Language(a[3]);
    auto map = Load(a[0]);
    std::size_t removed = std::erase_if(map, [&](const auto& item) {
        return item.first.type == type && item.first.name == name &&
               (!language || item.first.language == *language);
    });
    if (removed == 0) {
        std::fprintf(stderr, "mwtool res: %s has no such resource\n", a[0].c_str());
        return 1;
    }
    Check(mp::WriteResources(a[0], map), a[0]);
    return 0;
}

// Consumes "--raw TYPE NAME LANG FILE" at a[i]; true when it was one.
bool RawOption(const Args& a, std::size_t& i, mp::ResourceCompiler& compiler) {
    if (a[i] != "--raw") return false;
    if (i + 4 >= a.size()) throw UsageError("--raw TYPE NAME LANG DATAFILE");
    mp::ResourceKey key{Type(a[i + 1]), Number(a[i + 2], "resource name"), Language(a[i + 3])};
    if (!compiler.AddFile(key, a[i + 4])) throw std::runtime_error(compiler.error());
    i += 4;
    return true;
}

int Attach(const Args& a) {
    if (a.size() < 2) throw UsageError("attach FILE BUNDLE [--raw TYPE NAME LANG DATAFILE]...");
    mp::ResourceCompiler compiler;
    compiler.resources() = Load(a[1]);
    for (std::size_t i = 2; i < a.size(); ++i) {
        if (!RawOption(a, i, compiler)) throw UsageError("unknown argument " + a[i]);
    }
    Check(mp::WriteResources(a[0], compiler.resources()), a[0]);
    return 0;
}

int Build(const Args& a) {
    std::vector<std::string> positional;
    std::vector<std::string> options;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].starts_with("--")) {
            options.assign(a.begin() + i, a.end());
            break;
        }
        positional.push_back(a[i]);
    }
    if (positional.empty() || positional.size() > 2) {
        throw UsageError("build [RESDIR] OUTFILE [options]");
    }
    mp::ResourceCompiler c;
    auto must = [&c](bool ok) {
        if (!ok) throw std::runtime_error(c.error());
    };
    if (positional.size() == 2) {
        // The installer's set: every source folder that exists.
        namespace fs = std::filesystem;
        const std::string& dir = positional[0];
        if (!fs::is_directory(dir)) throw std::runtime_error(dir + ": not a folder");
        must(c.AddVersion(dir + "/version/installer.ver"));
        must(c.AddManifest(dir + "/manifest/installer.manifest"));
        if (fs::is_directory(dir + "/strings")) must(c.AddStringTables(dir + "/strings"));
        if (fs::is_directory(dir + "/dialogs")) must(c.AddDialogs(dir + "/dialogs"));
        if (fs::is_directory(dir + "/icons")) must(c.AddIcons(dir + "/icons"));
        if (fs::is_directory(dir + "/bitmaps")) must(c.AddBitmaps(dir + "/bitmaps"));
    }
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (RawOption(options, i, c)) continue;
        if (i + 1 >= options.size()) throw UsageError(options[i] + " needs an argument");
        const std::string& o = options[i];
        const std::string& v = options[++i];
        if (o == "--version") {
            must(c.AddVersion(v));
        } else if (o == "--manifest") {
            must(c.AddManifest(v));
        } else if (o == "--strings" || o == "--dialogs" || o == "--icons" || o == "--bitmaps") {
            if (!std::filesystem::is_directory(v)) throw std::runtime_error(v + ": not a folder");
            must(o == "--strings"   ? c.AddStringTables(v)
                 : o == "--dialogs" ? c.AddDialogs(v)
                 : o == "--icons"   ? c.AddIcons(v)
                                    : c.AddBitmaps(v));
        } else {
            throw UsageError("unknown option " + o);
        }
    }
    const std::string& out = positional.back();
    // A stale output would otherwise be edited, not replaced.
    std::error_code ec;
    std::filesystem::remove(out, ec);
    Check(mp::WriteResources(out, c.resources()), out);
    return 0;
}

int Res(const Args& args) {
    try {
        if (args.empty()) throw UsageError("missing subcommand");
        Args rest(args.begin() + 1, args.end());
        const std::string& sub = args[0];
        if (sub == "list") return List(rest);
        if (sub == "get") return Get(rest);
        if (sub == "set") return Set(rest);
        if (sub == "remove") return Remove(rest);
        if (sub == "attach") return Attach(rest);
        if (sub == "build") return Build(rest);
        throw UsageError("unknown subcommand " + sub);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "mwtool res: %s\nusage: mwtool %s\n", e.what(), Usage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mwtool res: %s\n", e.what());
        return 1;
    }
}

const Command registration("res", Usage, Res);

}  // namespace
}  // namespace mwtool
