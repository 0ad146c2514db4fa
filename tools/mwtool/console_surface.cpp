#include "console_surface.hpp"

namespace mwtool {
namespace {

// Columns of a UTF-8 text: one per code point.
std::size_t Width(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

}  // namespace

std::string DashedHeading(const std::string& text, std::size_t columns) {
    if (text.empty()) return std::string(columns, '-');
    const std::string middle = " " + text + " ";
    const std::size_t width = Width(middle);
    const std::size_t n = width < columns ? columns - width : 0;
    return std::string(n / 2, '-') + middle + std::string((n + 1) / 2, '-');
}

void ConsoleSurface::AppendLog(const std::string& text, bool heading) {
    if (heading || text.empty()) {
        line_ += DashedHeading(text) + "\r\n";
    } else {
        line_ += text;
    }
    // Complete lines go out at once, so a follower of the output sees each
    // file as it is copied.
    std::size_t start = 0;
    for (std::size_t at; (at = line_.find("\r\n", start)) != std::string::npos; start = at + 2) {
        std::fprintf(out_, "%s\n", line_.substr(start, at - start).c_str());
    }
    line_.erase(0, start);
    std::fflush(out_);
}

void ConsoleSurface::Flush() {
    if (line_.empty()) return;
    std::fprintf(out_, "%s\n", line_.c_str());
    line_.clear();
    std::fflush(out_);
}

void ConsoleSurface::Finish() {
    Flush();
    if (!status_.empty()) std::fprintf(err_, "%s\n", status_.c_str());
    std::fflush(err_);
}

}  // namespace mwtool
