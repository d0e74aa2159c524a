#include "report/error_report.h"

#include "core/options.h"
#include "core/write_all.h"
#include "process/run_to_end.h"
#include "update/service_url.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// curl itself gives up after 5 seconds; the margin covers starting it.
constexpr std::chrono::milliseconds delivery_time_limit{10000};

} // namespace

std::string report_endpoint(const StudioOptions& options) {
    if (options.disable_error_reporting || !is_safe_service_url(options.report_url.c_str())) {
        return {};
    }
    return options.report_url;
}

std::string report_file_path() {
    return "/tmp/brevalo-studio-report-" + std::to_string(getpid()) + ".json";
}

CurlRequest report_delivery(const std::string& file_path, const std::string& endpoint) {
    return {{"-fsS", "--max-time", "5", "--data-binary", "@" + file_path},
            endpoint,
            {"Content-Type: application/json"},
            std::nullopt};
}

int create_report_file(const char* path) noexcept {
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(path, flags, 0600);
    if (fd < 0 && errno == EEXIST) {
        unlink(path); // removes a planted link itself, never what it points to
        fd = open(path, flags, 0600);
    }
    return fd;
}

void send_error_report(const StudioOptions& options, const ReportFields& fields) {
    const std::string endpoint = report_endpoint(options);
    if (endpoint.empty()) {
        return;
    }
    const std::string path = report_file_path();
    const std::string json = compose_report_json(options, fields);
    const int fd = create_report_file(path.c_str());
    if (fd < 0) {
        return;
    }
    write_all(fd, json);
    close(fd);
    ChildSpec delivery = curl_child(report_delivery(path, endpoint));
    delivery.discard_output = true;
    run_to_end(delivery, 0, delivery_time_limit);
    unlink(path.c_str());
}
