#include "report/crash_report.h"

#include "core/write_all.h"
#include "process/curl.h"
#include "process/signals.h"
#include "report/error_report.h"

#include <array>
#include <string>
#include <unistd.h>

namespace {

constexpr std::size_t max_crash_report_bytes = 4096;
constexpr std::size_t max_path_bytes = 256;

// Every crash signal is reported, and so is SIGTERM, a stop nobody at the terminal asked for.
constexpr std::array<int, crash_signals.size() + 1> reported_signals{
    crash_signals[0], crash_signals[1], crash_signals[2],
    crash_signals[3], crash_signals[4], SIGTERM};

struct PreparedReport {
    int signal_number = 0;
    std::array<char, max_crash_report_bytes> json{};
    std::size_t length = 0;
};

// Everything the handler needs, composed when it is installed: a handler cannot be handed
// anything, so this is process-wide.
struct CrashReportContext {
    bool deliver = false;
    std::array<char, max_path_bytes> path{};
    PreparedCurl delivery;
    std::array<PreparedReport, reported_signals.size()> reports{};
};

CrashReportContext crash_context;

template <std::size_t N>
bool copy_text(std::array<char, N>& into, const std::string& text) {
    if (text.size() >= N) {
        return false;
    }
    text.copy(into.data(), text.size());
    into[text.size()] = '\0';
    return true;
}

const PreparedReport* prepared_report_for(int signal_number) noexcept {
    for (const PreparedReport& report : crash_context.reports) {
        if (report.signal_number == signal_number) {
            return &report;
        }
    }
    return nullptr;
}

void deliver_crash_report(int signal_number) noexcept {
    const PreparedReport* report = prepared_report_for(signal_number);
    if (!crash_context.deliver || report == nullptr) {
        return;
    }
    const int fd = create_report_file(crash_context.path.data());
    if (fd < 0) {
        return;
    }
    write_all(fd, report->json.data(), report->length);
    close(fd);
    crash_context.delivery.run_from_signal_handler();
    unlink(crash_context.path.data());
}

} // namespace

void install_crash_handler(const StudioOptions& options) {
    const std::string endpoint = report_endpoint(options);
    const std::string path = report_file_path();
    crash_context.deliver = !endpoint.empty() && copy_text(crash_context.path, path) &&
                            crash_context.delivery.prepare(report_delivery(path, endpoint));
    // Nothing to deliver, nothing to compose.
    for (std::size_t i = 0; crash_context.deliver && i < reported_signals.size(); ++i) {
        const int signal_number = reported_signals[i];
        const std::string message =
            "Castora process received signal " + std::to_string(signal_number) + ".";
        const std::string json = compose_report_json(
            options, {"crash", "fatal", signal_number + 128, "signal", "signal_handler", message});
        PreparedReport& report = crash_context.reports[i];
        report.signal_number = signal_number;
        report.length = json.size() < max_crash_report_bytes ? json.size() : 0;
        json.copy(report.json.data(), report.length);
    }
    install_signal_handlers(on_fatal_signal, on_stop_signal);
}

void on_fatal_signal(int signal_number) {
    deliver_crash_report(signal_number);
    restore_default_signal(signal_number);
    _exit(128 + signal_number);
}

void on_stop_signal(int signal_number) {
    if (signal_number != SIGTERM) {
        end_by_default_action(signal_number);
    }
    deliver_crash_report(signal_number);
    restore_default_signal(signal_number);
    _exit(128 + signal_number);
}
