#include "support/ui_dump_reader.hpp"

#include <fstream>
#include <sstream>

namespace mwtest {

namespace {

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

int Number(const std::string& s) {
    try {
        return std::stoi(s);
    } catch (...) {
        return 0;
    }
}

}  // namespace

std::vector<mw::platform::UiDumpWindow> ReadUiDump(const std::string& path) {
    std::vector<mw::platform::UiDumpWindow> records;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::optional<mw::platform::UiDumpWindow> current;
    while (std::getline(in, line)) {
        std::vector<std::string> f = Fields(line);
        if (f[0] == "window" && f.size() >= 7) {
            current.emplace();
            current->cls = f[1];
            current->caption = Unescape(f[2]);
            current->x = Number(f[3]);
            current->y = Number(f[4]);
            current->w = Number(f[5]);
            current->h = Number(f[6]);
        } else if (f[0] == "control" && f.size() >= 8 && current) {
            mw::platform::UiDumpControl c;
            c.cls = f[1];
            c.id = Number(f[2]);
            c.text = Unescape(f[3]);
            c.x = Number(f[4]);
            c.y = Number(f[5]);
            c.w = Number(f[6]);
            c.h = Number(f[7]);
            if (f.size() > 8) c.states = f[8];
            current->controls.push_back(std::move(c));
        } else if (f[0] == "end" && current) {
            records.push_back(std::move(*current));
            current.reset();
        }
    }
    return records;
}

std::optional<mw::platform::UiDumpWindow> FirstUiDumpOf(const std::string& path,
                                                        const std::string& windowClass) {
    for (mw::platform::UiDumpWindow& record : ReadUiDump(path)) {
        if (record.cls == windowClass) return std::move(record);
    }
    return std::nullopt;
}

const mw::platform::UiDumpControl* DumpedControl(const mw::platform::UiDumpWindow& window, int id) {
    for (const auto& c : window.controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

}  // namespace mwtest
