#include "ffmpeg_check/ffmpeg_check.h"

#include "core/utf8.h"
#include "ffmpeg_check/executable.h"
#include "ffmpeg_check/findings_cache.h"
#include "ffmpeg_check/probe.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <unistd.h>

namespace {

#if defined(__APPLE__)
// Homebrew keeps ffmpeg-full off the PATH (it is keg-only), under its prefix: /opt/homebrew on
// Apple silicon, /usr/local on Intel Macs.
constexpr std::array<std::string_view, 2> homebrew_full_builds{
    "/opt/homebrew/opt/ffmpeg-full/bin/ffmpeg", "/usr/local/opt/ffmpeg-full/bin/ffmpeg"};

std::string_view installed_full_build() {
    for (const std::string_view path : homebrew_full_builds) {
        if (access(std::string{path}.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}
#endif

std::string named(const Component& component) {
    return std::string{component.name} + " " + std::string{component_kind_name(component.kind)};
}

std::string padded(std::string_view text, std::size_t width) {
    std::string line{text};
    line.resize(std::max(width, line.size() + 1), ' ');
    return line;
}

bool is_used(const std::vector<const Component*>& used, const Component& component) {
    return std::find(used.begin(), used.end(), &component) != used.end();
}

} // namespace

FfmpegCheck check_ffmpeg(const std::string& ffmpeg_path, bool ask_afresh) {
    FfmpegCheck check{ffmpeg_path, "", std::nullopt, ""};
    const std::optional<ExecutableIdentity> executable = identify_executable(ffmpeg_path);
    if (!executable) {
        return check;
    }
    check.executable = executable->path;
    if (!ask_afresh) {
        check.findings = cached_findings(*executable);
        if (check.findings) {
            return check;
        }
    }
    const Expected<FfmpegFindings, std::string> answered = probe_ffmpeg(executable->path);
    if (answered) {
        check.findings = *answered;
        cache_findings(*executable, *answered);
    } else {
        check.unsettled = answered.failure();
        forget_findings(*executable);
    }
    return check;
}

std::vector<const Component*> missing_components(const FfmpegCheck& check,
                                                 const std::vector<const Component*>& used) {
    std::vector<const Component*> missing;
    if (check.findings && check.findings->answers_as_ffmpeg) {
        for (const Component* component : used) {
            if (!check.findings->present.contains(std::string{component->name})) {
                missing.push_back(component);
            }
        }
    }
    return missing;
}

std::string ffmpeg_advice(bool on_mac, std::string_view found_full_build) {
    if (!on_mac) {
        return "Use an FFmpeg build that has them, and point castora at it with --ffmpeg PATH "
               "or the line ffmpeg=PATH in the studio config.\n";
    }
    if (!found_full_build.empty()) {
        const std::string path{found_full_build};
        return "Homebrew's ffmpeg-full, installed at " + path +
               ", has everything castora uses: point castora at it with --ffmpeg " + path +
               " or the line ffmpeg=" + path + " in the studio config.\n";
    }
    return "Homebrew's ffmpeg-full has everything castora uses: install it with "
           "\"brew install ffmpeg-full\". It stays off the PATH, so point castora at it with "
           "--ffmpeg /opt/homebrew/opt/ffmpeg-full/bin/ffmpeg or the line "
           "ffmpeg=/opt/homebrew/opt/ffmpeg-full/bin/ffmpeg in the studio config (on an Intel "
           "Mac: /usr/local/opt/ffmpeg-full/bin/ffmpeg).\n";
}

std::string ffmpeg_advice() {
#if defined(__APPLE__)
    return ffmpeg_advice(true, installed_full_build());
#else
    return ffmpeg_advice(false, {});
#endif
}

std::string missing_components_message(const FfmpegCheck& check,
                                       const std::vector<const Component*>& missing) {
    std::string message = "The FFmpeg at " + terminal_safe(check.executable) + " (" +
                          terminal_safe(check.findings->version) +
                          ") lacks what this stream needs:\n";
    for (const Component* component : missing) {
        message += "  the " + named(*component) + ", for " + std::string{component->serves} + "\n";
    }
    return message + ffmpeg_advice() +
           "castora --check-ffmpeg lists everything castora looks for.\n";
}

std::string ffmpeg_check_listing(const FfmpegCheck& check,
                                 const std::vector<const Component*>& used) {
    const std::string asked = terminal_safe(check.asked_for);
    if (check.executable.empty()) {
        return "No executable " + asked + " was found" +
               (check.asked_for.find('/') == std::string::npos ? " on the PATH" : "") + ".\n";
    }
    const std::string executable = terminal_safe(check.executable);
    if (!check.findings) {
        return executable + " could not be checked: " + check.unsettled +
               ". Nothing is kept of this answer: a launch starts it all the same and asks it "
               "again.\n";
    }
    if (!check.findings->answers_as_ffmpeg) {
        return executable +
               " does not answer as an FFmpeg does (its -version gives no FFmpeg banner); a "
               "launch starts it all the same.\n";
    }
    std::string listing =
        "FFmpeg " + terminal_safe(check.findings->version) + " at " + executable + "\n";
    for (const Component& component : ffmpeg_components()) {
        const bool present = check.findings->present.contains(std::string{component.name});
        listing += "  " + padded(present ? "ok" : "missing", 9) + padded(component.name, 19) +
                   padded(component_kind_name(component.kind), 14) + std::string{component.serves};
        listing += !present && !is_used(used, component) ? " (not used by this launch)\n" : "\n";
    }
    const std::vector<const Component*> missing = missing_components(check, used);
    if (missing.empty()) {
        return listing + "This launch has everything it needs.\n";
    }
    listing += "This launch needs what this FFmpeg lacks:";
    for (const Component* component : missing) {
        listing += (component == missing.front() ? " " : ", ") + std::string{component->name};
    }
    return listing + ".\n" + ffmpeg_advice();
}
