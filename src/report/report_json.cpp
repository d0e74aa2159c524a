#include "report/report_json.h"

#include "core/options.h"
#include "core/utf8.h"

std::string escape_report_member(std::string_view text, std::size_t limit) {
    std::string escaped;
    std::size_t at = 0;
    for (std::string_view c = next_clean_character(text, at); !c.empty();
         c = next_clean_character(text, at)) {
        // An escape pair is written whole or not at all.
        const bool needs_escape = c == "\"" || c == "\\";
        if (escaped.size() + c.size() + (needs_escape ? 1 : 0) > limit) {
            break;
        }
        if (needs_escape) {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::string compose_report_json(const StudioOptions& options, const ReportFields& fields) {
    std::string json = "{\"event_type\":\"";
    json += fields.event_type;
    json += "\",\"severity\":\"";
    json += fields.severity;
    json += "\",\"app_version\":\"";
    json += app_version;
    json += "\",\"app_platform\":\"";
    json += app_platform;
    json += "\",\"architecture\":\"";
    json += app_architecture;
    json += "\",\"exit_code\":";
    json += std::to_string(fields.exit_code);
    json += ",\"signal_name\":\"";
    json += escape_report_member(fields.signal_name, max_signal_name_bytes);
    json += "\",\"phase\":\"";
    json += escape_report_member(fields.phase, max_phase_bytes);
    json += "\",\"profile_key\":\"";
    json += escape_report_member(options.profile_key, max_key_bytes);
    json += "\",\"scene_key\":\"";
    json += escape_report_member(options.scene_key, max_key_bytes);
    json += "\",\"message\":\"";
    json += escape_report_member(fields.message, max_message_bytes);
    json += "\"}\n";
    return json;
}
