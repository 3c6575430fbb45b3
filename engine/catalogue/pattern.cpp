#include "engine/catalogue/pattern.h"

namespace sweepkin {

bool wildcardMatch(std::string_view component, std::string_view name) {
    if (component == "*") return true;
    std::size_t star = component.find('*');
    if (star == std::string_view::npos) return component == name;

    std::string_view first = component.substr(0, star);
    if (!name.starts_with(first)) return false;
    std::size_t pos = first.size();

    std::size_t lastStar = component.rfind('*');
    std::string_view last = component.substr(lastStar + 1);
    std::string_view middle = component.substr(star + 1, lastStar - star);  // "b*c*" or ""
    while (!middle.empty()) {
        std::size_t next = middle.find('*');
        std::string_view part = middle.substr(0, next);
        middle.remove_prefix(next == std::string_view::npos ? middle.size() : next + 1);
        if (part.empty()) continue;
        std::size_t found = name.find(part, pos);
        if (found == std::string_view::npos) return false;
        pos = found + part.size();
    }
    // The tail may not reuse characters that the head or a middle part already matched, so
    // "ab*ba" does not match "aba".
    return name.size() - pos >= last.size() && name.ends_with(last);
}

}  // namespace sweepkin
