#pragma once

// How a POSIX shell reads a command line made of blank-separated words, each built from bare
// characters, single-quoted text and backslash escapes. Any other construct the shell would
// act on (an unquoted character outside `bare_allowed`, an open quote, an assignment or a
// reserved word in command position) makes the line unusable here, so the caller's property
// fails instead of passing by luck.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

struct ShellWord {
    std::string text;
    bool bare = true; // no quote or escape anywhere in the word
};

inline std::optional<std::vector<ShellWord>> split_shell_words(std::string_view line,
                                                               std::string_view bare_allowed) {
    std::vector<ShellWord> words;
    std::size_t at = 0;
    while (true) {
        while (at < line.size() && line[at] == ' ') {
            ++at;
        }
        if (at == line.size()) {
            return words;
        }
        ShellWord word;
        while (at < line.size() && line[at] != ' ') {
            const char c = line[at];
            if (c == '\'') {
                const std::size_t close = line.find('\'', at + 1);
                if (close == std::string_view::npos) {
                    return std::nullopt;
                }
                word.text.append(line.substr(at + 1, close - at - 1));
                word.bare = false;
                at = close + 1;
            } else if (c == '\\') {
                if (at + 1 == line.size() || line[at + 1] == '\n') {
                    return std::nullopt;
                }
                word.text += line[at + 1];
                word.bare = false;
                at += 2;
            } else if (bare_allowed.find(c) != std::string_view::npos) {
                word.text += c;
                ++at;
            } else {
                return std::nullopt;
            }
        }
        words.push_back(std::move(word));
    }
}

// A bare first word that the shell would take as a variable assignment (NAME=...) or a
// reserved word instead of the command to run.
inline bool misread_in_command_position(const ShellWord& word) {
    if (!word.bare) {
        return false;
    }
    // POSIX, bash and zsh reserved words; "!", "{", "}" and "[[" are never bare anyway.
    static constexpr std::array<std::string_view, 25> reserved{
        "!",         "{",      "}",      "[[",   "case", "coproc",  "do",       "done", "elif",
        "else",      "end",    "esac",   "fi",   "for",  "foreach", "function", "if",   "in",
        "nocorrect", "repeat", "select", "then", "time", "until",   "while"};
    for (const std::string_view r : reserved) {
        if (word.text == r) {
            return true;
        }
    }
    const std::size_t equals = word.text.find('=');
    if (equals == std::string::npos || equals == 0) {
        return false;
    }
    const auto is_name_char = [](char c, bool first) {
        return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               (!first && c >= '0' && c <= '9');
    };
    for (std::size_t i = 0; i < equals; ++i) {
        if (!is_name_char(word.text[i], i == 0)) {
            return false;
        }
    }
    return true;
}

} // namespace fuzz
