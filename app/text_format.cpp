#include "app/text_format.hpp"

namespace mw {
namespace {

template <typename Args>
std::string Format(std::string_view text, const Args& args) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            std::size_t n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < args.size()) {
                out.append(args.begin()[n]);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace

std::string FormatMessageText(std::string_view text, const std::vector<std::string>& args) {
    return Format(text, args);
}

std::string FormatMessageText(std::string_view text, std::initializer_list<std::string_view> args) {
    return Format(text, args);
}

}  // namespace mw
