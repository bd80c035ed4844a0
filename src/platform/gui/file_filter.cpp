#include "platform/gui/file_filter.h"

namespace kv {

namespace {

std::vector<std::string> SplitBar(const std::string& text) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        auto bar = text.find('|', start);
        if (bar == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Trim(const std::string& text) {
    auto b = text.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    auto e = text.find_last_not_of(' ');
    return text.substr(b, e - b + 1);
}

} // namespace

std::vector<std::string> ToQtNameFilters(const std::string& filter) {
    std::vector<std::string> result;
    if (filter.empty()) return result;
    auto parts = SplitBar(filter);
    for (std::size_t i = 0; i < parts.size(); i += 2) {
        std::string name = Trim(parts[i]);
        std::string pattern = i + 1 < parts.size() ? Trim(parts[i + 1]) : std::string();
        // Several patterns are separated by ';' in the program's filters and by spaces in Qt's.
        for (char& c : pattern)
            if (c == ';') c = ' ';
        if (pattern.empty()) pattern.assign(1, '*');
        if (name.empty()) name = pattern;
        std::string group;
        group.append(1, '(').append(pattern).append(1, ')');
        if (!EndsWith(name, group)) name.append(1, ' ').append(group);
        result.push_back(name);
    }
    return result;
}

std::string ToQtDefaultSuffix(const std::string& extension) {
    auto start = extension.find_first_not_of('.');
    return start == std::string::npos ? std::string() : extension.substr(start);
}

} // namespace kv
