#include "update/update_check.h"

#include "core/options.h"
#include "core/utf8.h"
#include "process/shell_command.h"
#include "update/download.h"
#include "update/json_string.h"
#include "update/service_url.h"
#include "update/versions.h"

#include <cstdio>

namespace {

// Two attempts of 8 seconds, whatever pause between them the service asks for, and a margin.
constexpr std::chrono::milliseconds query_time_limit{20000};

} // namespace

std::string update_query_url(std::string_view endpoint) {
    std::string query{endpoint};
    query += endpoint.find('?') != std::string_view::npos ? '&' : '?';
    query += "current_version=";
    query += app_version;
    query += "&platform=";
    query += app_platform;
    query += "&architecture=";
    query += app_architecture;
    query += "&channel=stable";
    if (query.size() > max_service_url_length) {
        query.resize(max_service_url_length);
    }
    return query;
}

void check_for_update(const StudioOptions& options) {
    if (options.skip_update_check) {
        return;
    }
    const std::string& endpoint = options.update_url;
    if (!is_safe_service_url(endpoint.c_str())) {
        return;
    }
    const std::string query = update_query_url(endpoint);
    if (!is_safe_service_url(query.c_str())) {
        return;
    }
    std::string command =
        "curl -fsSL --proto-redir =https --max-time 8 --retry 1 --user-agent BrevaloCastora/";
    command += app_version;
    command += " '" + query + "'";
    const auto answer =
        read_shell_command_output(command, max_update_answer_bytes, query_time_limit);
    if (!answer) {
        return;
    }
    std::string latest;
    if (!extract_json_string(*answer, "latest_version", latest, latest_version_capacity)) {
        return;
    }
    if (compare_versions(app_version, latest) >= 0) {
        if (options.check_update) {
            std::fprintf(stderr, "Castora is current: %.*s\n", static_cast<int>(app_version.size()),
                         app_version.data());
        }
        return;
    }
    std::string download_url;
    std::string digest;
    extract_json_string(*answer, "download_url", download_url, download_url_capacity);
    extract_json_string(*answer, "sha256", digest, sha256_capacity);
    std::fprintf(stderr, "Castora update available: %.*s -> %s\n",
                 static_cast<int>(app_version.size()), app_version.data(),
                 terminal_safe(latest).c_str());
    if (!download_url.empty()) {
        std::fprintf(stderr, "Download: %s\n", terminal_safe(download_url).c_str());
    }
    if (!digest.empty()) {
        std::fprintf(stderr, "SHA-256: %s\n", terminal_safe(digest).c_str());
    }
    if (options.auto_download_update && !download_url.empty()) {
        download_update(download_url, latest, digest);
    }
}
