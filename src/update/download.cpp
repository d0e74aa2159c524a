#include "update/download.h"

#include "core/identity.h"
#include "process/cleanup.h"
#include "process/shell_command.h"
#include "update/service_url.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t max_package_name_length = 255;
constexpr std::size_t sha256_hex_digits = 64;
// curl gives up after 120 seconds; the margins cover starting the shell and the tools.
constexpr std::chrono::milliseconds download_time_limit{125000};
constexpr std::chrono::milliseconds verification_time_limit{30000};

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char to_lower_ascii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A new file of our own in the working directory for the transfer, named so that it can never
// be the package's name, with the permissions a new file gets here; removed however the run
// ends unless it is given the package's name. Empty when none can be made.
std::string create_partial_file() {
    char name[] = ".castora-download-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) {
        return {};
    }
    if (!remove_at_end(name, Removal::always)) {
        close(fd);
        unlink(name);
        return {};
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    return name;
}

std::string verification_command(const std::string& digest, const std::string& file_name) {
    const std::string line = "(printf '%s  %s\\n' '" + digest + "' '" + file_name + "'";
    return line + " | shasum -a 256 -c - >/dev/null 2>&1) || " + line +
           " | sha256sum -c - >/dev/null 2>&1)";
}

} // namespace

std::string package_file_name(std::string_view latest_version) {
    std::string name = "brevalo-studio-update-";
    name += latest_version.empty() ? std::string_view{"latest"} : latest_version;
    name += '-';
    name += app_platform;
    name += '-';
    name += app_architecture;
    name += ".tar.gz";
    if (name.size() > max_package_name_length) {
        name.resize(max_package_name_length);
    }
    return name;
}

bool is_safe_version_text(std::string_view version) {
    if (version == "." || version == "..") {
        return false;
    }
    for (const char c : version) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-' || c == '+';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

std::string normalized_sha256(std::string_view digest) {
    if (digest.size() != sha256_hex_digits) {
        return {};
    }
    std::string normalized;
    for (const char c : digest) {
        if (!is_hex_digit(c)) {
            return {};
        }
        normalized += to_lower_ascii(c);
    }
    return normalized;
}

void download_update(std::string_view url, std::string_view latest_version,
                     std::string_view expected_sha256) {
    const std::string url_text{url};
    if (!is_safe_service_url(url_text.c_str()) || !is_safe_version_text(latest_version)) {
        return;
    }
    const std::string file_name = package_file_name(latest_version);
    const std::string partial = create_partial_file();
    if (partial.empty()) {
        return;
    }
    // A redirect may lead to https only; nothing but a verified package takes the package name.
    if (!run_shell_command("curl -fL --proto-redir =https --max-time 120 -o '" + partial + "' '" +
                               url_text + "'",
                           download_time_limit)) {
        remove_now(partial);
        return;
    }
    const std::string digest = normalized_sha256(expected_sha256);
    if (!digest.empty() &&
        run_shell_command(verification_command(digest, partial), verification_time_limit) &&
        std::rename(partial.c_str(), file_name.c_str()) == 0) {
        remove_now(partial); // gone by its name already: only forgotten
        std::fprintf(stderr, "Downloaded Castora update package: %s\n", file_name.c_str());
        return;
    }
    std::fprintf(stderr,
                 "Downloaded Castora update failed SHA-256 verification and was removed: %s\n",
                 file_name.c_str());
    remove_now(partial);
}
