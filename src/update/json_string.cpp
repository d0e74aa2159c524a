#include "update/json_string.h"

bool extract_json_string(std::string_view text, std::string_view key, std::string& out,
                         std::size_t capacity) {
    out.clear();
    // The answer is read as a C text: nothing after a NUL byte counts.
    text = text.substr(0, text.find('\0'));
    const std::string quoted_key = "\"" + std::string{key} + "\"";
    const std::size_t key_at = text.find(quoted_key);
    if (key_at == std::string_view::npos) {
        return false;
    }
    const std::size_t colon = text.find(':', key_at + quoted_key.size());
    if (colon == std::string_view::npos) {
        return false;
    }
    std::size_t at = text.find_first_not_of(" \t\n\r", colon + 1);
    if (at == std::string_view::npos || text[at] != '"') {
        return false;
    }
    ++at;
    const std::size_t room = capacity > 0 ? capacity - 1 : 0;
    while (at < text.size() && text[at] != '"' && out.size() < room) {
        if (text[at] == '\\') {
            if (at + 1 >= text.size()) {
                out += '\\';
                break;
            }
            ++at;
        }
        out += text[at];
        ++at;
    }
    return !out.empty();
}
