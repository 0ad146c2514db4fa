#include "platform/path.hpp"

namespace mw::platform {

std::vector<std::string> PathElements(std::string_view path, std::string_view separators) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t j = path.find_first_of(separators, i);
        if (j == std::string_view::npos) j = path.size();
        if (j > i) out.emplace_back(path.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

void PrependPathElements(std::string_view path, std::deque<std::string>& todo) {
    std::vector<std::string> elements = PathElements(path);
    todo.insert(todo.begin(), std::make_move_iterator(elements.begin()),
                std::make_move_iterator(elements.end()));
}

std::vector<std::string> NormalPathElements(std::string_view path, std::string_view separators) {
    std::vector<std::string> out;
    for (std::string& e : PathElements(path, separators)) {
        if (e == ".") continue;
        if (e == "..") {
            if (!out.empty()) out.pop_back();
            continue;
        }
        out.push_back(std::move(e));
    }
    return out;
}

std::string ParentPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string JoinPath(std::string_view base, std::string_view element, std::string_view separators) {
    std::string out(base);
    const auto isSeparator = [&](char c) { return separators.find(c) != std::string_view::npos; };
    if (!out.empty() && !isSeparator(out.back()) && !(!element.empty() && isSeparator(element[0])))
        out += '/';
    out += element;
    return out;
}

}  // namespace mw::platform
