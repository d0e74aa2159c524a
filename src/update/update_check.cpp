#include "update/update_check.h"

#include "core/options.h"
#include "core/utf8.h"
#include "process/curl.h"
#include "process/run_to_end.h"
#include "update/json_string.h"
#include "update/service_url.h"
#include "update/versions.h"

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

UpdateNews ask_for_update(const StudioOptions& options) {
    if (options.skip_update_check) {
        return {};
    }
    const std::string& endpoint = options.update_url;
    if (!is_safe_service_url(endpoint.c_str())) {
        return {};
    }
    const std::string query = update_query_url(endpoint);
    if (!is_safe_service_url(query.c_str())) {
        return {};
    }
    // Redirects are followed, to https only; curl's own error line reaches standard error.
    ChildSpec spec =
        curl_child({{"-fsSL", "--proto-redir", "=https", "--max-time", "8", "--retry", "1",
                     "--user-agent", "BrevaloCastora/" + std::string{app_version}},
                    query,
                    {},
                    std::nullopt});
    spec.piped_fd = 1;
    const auto answer = run_to_end(spec, max_update_answer_bytes, query_time_limit);
    if (!answer) {
        return {};
    }
    std::string latest;
    if (!extract_json_string(*answer, "latest_version", latest, latest_version_capacity)) {
        return {};
    }
    UpdateNews news;
    if (compare_versions(app_version, latest) >= 0) {
        if (options.check_update) {
            news.lines = "Castora is current: " + std::string{app_version} + "\n";
        }
        return news;
    }
    std::string download_url;
    std::string digest;
    extract_json_string(*answer, "download_url", download_url, download_url_capacity);
    extract_json_string(*answer, "sha256", digest, sha256_capacity);
    news.lines = "Castora update available: " + std::string{app_version} + " -> " +
                 terminal_safe(latest) + "\n";
    if (!download_url.empty()) {
        news.lines += "Download: " + terminal_safe(download_url) + "\n";
    }
    if (!digest.empty()) {
        news.lines += "SHA-256: " + terminal_safe(digest) + "\n";
    }
    if (options.auto_download_update && !download_url.empty()) {
        news.download = PackageDownload{download_url, latest, digest};
    }
    return news;
}
