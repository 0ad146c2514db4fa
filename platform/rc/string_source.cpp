#include "platform/rc/string_source.hpp"

#include <charconv>
#include <fstream>
#include <sstream>

namespace mw::platform {
namespace {

bool Unescape(std::string_view in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size()) return false;
        switch (in[i]) {
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                return false;
        }
    }
    return true;
}

}  // namespace

bool ParseStringTableSource(std::string_view text, StringTable& out, std::string& error) {
    std::size_t lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line == "#" || line.starts_with("# ")) continue;
        std::size_t tab = line.find('\t');
        uint32_t id = 0;
        auto [ptr, ec] = std::from_chars(
            line.data(), line.data() + (tab == std::string_view::npos ? line.size() : tab), id);
        std::string value;
        if (tab == std::string_view::npos || ec != std::errc{} || ptr != line.data() + tab ||
            !Unescape(line.substr(tab + 1), value)) {
            error = "line " + std::to_string(lineNo) + ": expected <id><TAB><text>";
            return false;
        }
        if (!out.emplace(id, std::move(value)).second) {
            error = "line " + std::to_string(lineNo) + ": id " + std::to_string(id) + " twice";
            return false;
        }
    }
    return true;
}

bool ReadStringTableFile(const std::string& path, StringTable& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    if (!ParseStringTableSource(s.str(), out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace mw::platform
