// The report writer on arbitrary member texts and exit codes, with and without an options
// record. The report must be one line of valid UTF-8 JSON that a strict parser takes as an
// object with exactly the eleven members in their fixed order, and each member must parse
// back: the fixed words as given, exit_code as the number given, and each escaped text as the
// input with control bytes and malformed UTF-8 dropped, cut at a character boundary as late
// as its limit allows (the limit counting the escaped bytes).

#include "cli/options.h"
#include "fuzz_support.h"
#include "report/report_json.h"

#include <cstdint>
#include <cstring>
#include <optional>

namespace {

struct Member {
    std::string name;
    std::string value; // unescaped string, or the number's text
    bool is_string = true;
};

// A strict reader for the one shape a report has: an object of string and integer members.
class JsonReader {
  public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    std::optional<std::vector<Member>> object() {
        std::vector<Member> members;
        if (!take('{')) {
            return std::nullopt;
        }
        if (take('}')) {
            return members;
        }
        do {
            Member member;
            auto name = string();
            if (!name || !take(':')) {
                return std::nullopt;
            }
            member.name = std::move(*name);
            if (peek() == '"') {
                auto value = string();
                if (!value) {
                    return std::nullopt;
                }
                member.value = std::move(*value);
            } else {
                auto value = integer();
                if (!value) {
                    return std::nullopt;
                }
                member.value = std::move(*value);
                member.is_string = false;
            }
            members.push_back(std::move(member));
        } while (take(','));
        if (!take('}')) {
            return std::nullopt;
        }
        return members;
    }

    std::string_view rest() const { return text_.substr(at_); }

  private:
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    bool take(char c) {
        if (peek() != c || at_ >= text_.size()) {
            return false;
        }
        ++at_;
        return true;
    }

    std::optional<std::string> string() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return std::nullopt;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) {
                return std::nullopt;
            }
            const char e = text_[at_++];
            const char* simple = std::strchr("\"\\/bfnrt", e);
            if (simple == nullptr || e == '\0') {
                return std::nullopt; // \u escapes are valid JSON but never written here
            }
            out += "\"\\/\b\f\n\r\t"[simple - "\"\\/bfnrt"];
        }
        return std::nullopt;
    }

    std::optional<std::string> integer() {
        const std::size_t start = at_;
        take('-');
        if (peek() == '0') {
            ++at_;
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9') {
                ++at_;
            }
        } else {
            return std::nullopt;
        }
        return std::string(text_.substr(start, at_ - start));
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// The member's text from its stated rules: keep whole well-formed characters that are not
// control bytes, while their escaped size fits the limit.
std::string expected_member(std::string_view text, std::size_t limit) {
    std::string out;
    std::size_t escaped_size = 0;
    std::size_t at = 0;
    for (auto c = fuzz::next_kept_character(text, at); !c.empty();
         c = fuzz::next_kept_character(text, at)) {
        const std::size_t written = c == "\"" || c == "\\" ? 2 : c.size();
        if (escaped_size + written > limit) {
            break;
        }
        escaped_size += written;
        out += c;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    // The event type and severity are the program's own words, never user text.
    static constexpr std::string_view kinds[][2] = {
        {"configuration_error", "error"}, {"ffmpeg_error", "error"}, {"crash", "fatal"}};
    const auto control = data[0];
    std::int32_t exit_code = 0;
    std::memcpy(&exit_code, data + 1, sizeof exit_code);
    const auto texts =
        fuzz::split(std::string_view(reinterpret_cast<const char*>(data + 5), size - 5), '\0', 5);
    const auto text = [&](std::size_t i) {
        return i < texts.size() ? texts[i] : std::string_view{};
    };

    ReportFields fields;
    fields.event_type = kinds[control % 3][0];
    fields.severity = kinds[control % 3][1];
    fields.exit_code = exit_code;
    fields.signal_name = text(0);
    fields.phase = text(1);
    fields.message = text(2);
    StudioOptions options;
    options.profile_key = std::string(text(3));
    options.scene_key = std::string(text(4));
    const bool with_record = (control & 4) != 0;

    const std::string json = compose_report_json(with_record ? &options : nullptr, fields);
    FUZZ_CHECK(fuzz::is_valid_utf8(json), fuzz::show(json));
    FUZZ_CHECK(json.ends_with("\n") && json.find('\n') == json.size() - 1, fuzz::show(json));
    JsonReader reader(std::string_view(json).substr(0, json.size() - 1));
    const auto members = reader.object();
    FUZZ_CHECK(members.has_value() && reader.rest().empty(), fuzz::show(json));

    const struct {
        std::string_view name;
        std::string value;
        bool is_string;
    } expected[] = {
        {"event_type", std::string(fields.event_type), true},
        {"severity", std::string(fields.severity), true},
        {"app_version", std::string(app_version), true},
        {"app_platform", std::string(app_platform), true},
        {"architecture", std::string(app_architecture), true},
        {"exit_code", std::to_string(exit_code), false},
        {"signal_name", expected_member(text(0), max_signal_name_bytes), true},
        {"phase", expected_member(text(1), max_phase_bytes), true},
        {"profile_key", with_record ? expected_member(text(3), max_key_bytes) : "", true},
        {"scene_key", with_record ? expected_member(text(4), max_key_bytes) : "", true},
        {"message", expected_member(text(2), max_message_bytes), true},
    };
    FUZZ_CHECK(members->size() == std::size(expected), fuzz::show(json));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Member& got = (*members)[i];
        FUZZ_CHECK(got.name == expected[i].name && got.is_string == expected[i].is_string,
                   fuzz::show(json));
        FUZZ_CHECK(got.value == expected[i].value, std::string(expected[i].name) + " " +
                                                       fuzz::show(got.value) + " expected " +
                                                       fuzz::show(expected[i].value));
    }
    return 0;
}
