#pragma once

#include "process/curl.h"
#include "report/report_json.h"

#include <string>

struct StudioOptions;

// The endpoint reports go to, or empty when reporting is off or the URL is refused.
std::string report_endpoint(const StudioOptions& options);

// "/tmp/brevalo-studio-report-<pid>.json": every report of one process uses the same name.
std::string report_file_path();

// The request that posts the report file to the endpoint.
CurlRequest report_delivery(const std::string& file_path, const std::string& endpoint);

// Creates the report file afresh, never following a link planted at its name: an existing
// name is removed once and the exclusive create retried. Returns the descriptor or -1.
// Async-signal-safe.
int create_report_file(const char* path) noexcept;

// Writes the report to its file under /tmp, posts it with curl (all it says discarded) and
// removes the file. Every failure is silent and nothing here changes the outcome of the launch.
void send_error_report(const StudioOptions& options, const ReportFields& fields);
