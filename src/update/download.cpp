#include "update/download.h"

#include "core/identity.h"
#include "process/cleanup.h"
#include "process/curl.h"
#include "process/run_to_end.h"
#include "update/service_url.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t max_package_name_length = 255;
constexpr std::size_t sha256_hex_digits = 64;
// curl gives up after 120 seconds; the margins cover starting it and the tools.
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

// shasum (macOS) or, failing that, sha256sum (elsewhere) confirms the file's digest, each given
// one line of a checksum list on its standard input; all they say is discarded.
bool digest_confirmed(const std::string& digest, const std::string& file_name) {
    for (const std::vector<std::string>& tool :
         {std::vector<std::string>{"shasum", "-a", "256", "-c", "-"},
          std::vector<std::string>{"sha256sum", "-c", "-"}}) {
        ChildSpec spec;
        spec.argv = tool;
        spec.search_path = true;
        spec.own_process_group = true;
        spec.discard_output = true;
        std::string checksum_line = digest;
        checksum_line += "  ";
        checksum_line += file_name;
        spec.input = checksum_line + "\n";
        if (run_to_end(spec, 0, verification_time_limit)) {
            return true;
        }
    }
    return false;
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

std::string download_update(const PackageDownload& package) {
    if (!is_safe_service_url(package.url.c_str()) ||
        !is_safe_version_text(package.latest_version)) {
        return {};
    }
    const std::string file_name = package_file_name(package.latest_version);
    const std::string partial = create_partial_file();
    if (partial.empty()) {
        return {};
    }
    // A redirect may lead to https only; nothing but a verified package takes the package name.
    // curl's progress display and its own error line reach standard error.
    if (!run_to_end(
            curl_child({{"-fL", "--proto-redir", "=https", "--max-time", "120", "-o", partial},
                        package.url,
                        {},
                        std::nullopt}),
            0, download_time_limit)) {
        remove_now(partial);
        return {};
    }
    const std::string digest = normalized_sha256(package.sha256);
    if (!digest.empty() && digest_confirmed(digest, partial) &&
        std::rename(partial.c_str(), file_name.c_str()) == 0) {
        remove_now(partial); // gone by its name already: only forgotten
        return "Downloaded Castora update package: " + file_name + "\n";
    }
    remove_now(partial);
    return "Downloaded Castora update failed SHA-256 verification and was removed: " + file_name +
           "\n";
}
