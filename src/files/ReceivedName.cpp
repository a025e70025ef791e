#include "files/ReceivedName.h"

#include <cstddef>

namespace lodestrum::files {

std::string SafeFileName(std::string_view name) {
    if (name.empty()) return "_";
    std::string safe;
    safe.reserve(name.size() + 1);
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        safe.push_back(c == '/' || byte < 0x20 || byte == 0x7F ? '_' : c);
    }
    if (safe == "." || safe == "..") safe.insert(safe.begin(), '_');
    return safe;
}

namespace {

char FoldCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Greedy match with one backtrack point: linear in practice, never exponential.
bool MatchOne(std::string_view name, std::string_view mask) {
    std::size_t n = 0, m = 0;
    std::size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || FoldCase(mask[m]) == FoldCase(name[n]))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

bool MatchesMask(std::string_view fileName, std::string_view masks) {
    bool anyMask = false;
    while (true) {
        const std::size_t cut = masks.find(';');
        const std::string_view mask = Trim(masks.substr(0, cut));
        if (!mask.empty()) {
            anyMask = true;
            if (mask == "*.*" || MatchOne(fileName, mask)) return true;
        }
        if (cut == std::string_view::npos) break;
        masks.remove_prefix(cut + 1);
    }
    return !anyMask;
}

} // namespace lodestrum::files
