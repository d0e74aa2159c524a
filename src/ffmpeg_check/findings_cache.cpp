#include "ffmpeg_check/findings_cache.h"

#include "core/identity.h"
#include "files/private_files.h"
#include "files/user_folders.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

constexpr std::size_t max_cache_entry_bytes = 8192;

// The file of one executable: named by a hash of its path, so any path gives a plain name.
std::string cache_file_name(const std::string& path) {
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (const char c : path) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    char name[40];
    std::snprintf(name, sizeof name, "ffmpeg-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

// The lines that say which file the entry describes.
std::string identity_lines(const ExecutableIdentity& executable) {
    std::string text = "castora ";
    text += app_version;
    text += " ffmpeg check\nexecutable " + executable.path;
    text += "\nsize " + std::to_string(executable.size);
    text += "\nmodified " + std::to_string(executable.modified.tv_sec) + "." +
            std::to_string(executable.modified.tv_nsec);
    text += "\nchanged " + std::to_string(executable.changed.tv_sec) + "." +
            std::to_string(executable.changed.tv_nsec);
    text += "\ninode " + std::to_string(executable.inode);
    text += "\ndevice " + std::to_string(executable.device) + "\n";
    return text;
}

std::string_view next_line(std::string_view& text) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
        const std::string_view rest = text;
        text = {};
        return rest;
    }
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    return line;
}

} // namespace

std::string findings_cache_text(const ExecutableIdentity& executable,
                                const FfmpegFindings& findings) {
    std::string text = identity_lines(executable);
    text += findings.answers_as_ffmpeg ? "ffmpeg " + findings.version : std::string{"not ffmpeg"};
    text += "\nhas";
    for (const std::string& name : findings.present) {
        text += " " + name;
    }
    return text + "\nend\n";
}

std::optional<FfmpegFindings> findings_from_cache_text(std::string_view text,
                                                       const ExecutableIdentity& executable) {
    const std::string identity = identity_lines(executable);
    if (!text.starts_with(identity)) {
        return std::nullopt;
    }
    text.remove_prefix(identity.size());
    FfmpegFindings findings;
    const std::string_view kind = next_line(text);
    if (kind.starts_with("ffmpeg ") && kind.size() > 7) {
        findings.answers_as_ffmpeg = true;
        findings.version = kind.substr(7);
    } else if (kind != "not ffmpeg") {
        return std::nullopt;
    }
    std::string_view has = next_line(text);
    if (!has.starts_with("has") || next_line(text) != "end" || !text.empty()) {
        return std::nullopt;
    }
    has.remove_prefix(3);
    while (has.starts_with(' ')) {
        has.remove_prefix(1);
        const std::string_view name = has.substr(0, has.find(' '));
        const auto components = ffmpeg_components();
        if (std::none_of(components.begin(), components.end(),
                         [name](const Component& c) { return c.name == name; })) {
            return std::nullopt;
        }
        findings.present.emplace(name);
        has.remove_prefix(name.size());
    }
    return has.empty() ? std::optional<FfmpegFindings>{findings} : std::nullopt;
}

std::optional<FfmpegFindings> cached_findings(const ExecutableIdentity& executable) {
    const auto text = read_private_file(user_cache_folder(), cache_file_name(executable.path),
                                        max_cache_entry_bytes);
    return text ? findings_from_cache_text(*text, executable) : std::nullopt;
}

void cache_findings(const ExecutableIdentity& executable, const FfmpegFindings& findings) {
    write_private_file(user_cache_folder(), cache_file_name(executable.path),
                       findings_cache_text(executable, findings));
}

void forget_findings(const ExecutableIdentity& executable) {
    remove_private_file(user_cache_folder(), cache_file_name(executable.path));
}
