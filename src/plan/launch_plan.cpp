#include "plan/launch_plan.h"

#include "automation/bridge_url.h"
#include "catalog/profiles.h"
#include "config/targets.h"
#include "core/options.h"
#include "core/utf8.h"
#include "ffmpeg/ffmpeg_argv.h"
#include "ffmpeg/overlay_text.h"
#include "files/run_folder.h"
#include "publish/recording_path.h"

namespace {

LaunchRefusal refusal(std::string message, std::string_view phase,
                      std::string_view report_message) {
    return {std::move(message), {}, phase, report_message};
}

// A live run stops at what would stream to the wrong place; a dry run prints its command all the
// same, after a warning.
std::optional<LaunchRefusal> refused_when_live(PlanUse use, LaunchRefusal refused,
                                               std::vector<std::string>& warnings) {
    if (use == PlanUse::live) {
        return refused;
    }
    warnings.push_back("Warning (a live run stops here): " + refused.message);
    return std::nullopt;
}

// Without a scheme FFmpeg writes a local file of the URL's name while the creator believes they
// are live.
std::optional<LaunchRefusal> ingest_url_without_scheme(const StudioOptions& options) {
    const std::string& url = options.ingest_url;
    if (url.empty() || has_url_scheme(url)) {
        return std::nullopt;
    }
    const std::string shown = terminal_safe(
        with_secrets_hidden(url, longest_first(stream_secrets({url}, options.stream_key))));
    return refusal("Ingest URL must start with rtmp://, rtmps:// or srt:// (without a scheme "
                   "FFmpeg writes a local file): " +
                       shown + "\n",
                   "ingest_url", "Ingest URL had no scheme.");
}

// An empty key in a {stream_key} leaves the platform a URL without one, which it refuses or, worse,
// takes for another stream.
std::optional<LaunchRefusal> stream_key_missing(const StudioOptions& options,
                                                const std::vector<NamedDestination>& named) {
    if (!options.stream_key.empty()) {
        return std::nullopt;
    }
    std::vector<std::string_view> written; // each output as written, in output order
    if (!options.ingest_url.empty()) {
        written.emplace_back(options.ingest_url);
    }
    for (const StreamTarget& target : options.targets) {
        written.emplace_back(target.url);
    }
    std::string names;
    int count = 0;
    for (std::size_t i = 0; i < written.size() && i < named.size(); ++i) {
        if (written[i].find(stream_key_placeholder) != std::string_view::npos) {
            names += (count++ == 0 ? "" : ", ") + terminal_safe(named[i].name);
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    return refusal("Stream key is empty, but {stream_key} in the URL" +
                       std::string{count == 1 ? " of " : "s of "} + names +
                       " needs one: set it with --stream-key KEY or stream_key=KEY in the studio "
                       "config (an unset shell variable gives an empty key).\n",
                   "stream_key", "Stream key was empty.");
}

// The ingest URL, then each target, within the limit of 16 outputs, with the label each has.
std::optional<LaunchRefusal> build_outputs(const StudioOptions& options, OutputUrlList& urls,
                                           std::vector<std::string>& labels) {
    if (!options.ingest_url.empty()) {
        Expected<std::string> url = build_ingest_url(options.ingest_url, options.stream_key);
        if (!url) {
            return refusal(url.failure().message, "ingest_url", "Ingest URL could not be built.");
        }
        urls.push_back(std::move(*url));
        labels.emplace_back();
    }
    for (const StreamTarget& target : options.targets) {
        if (urls.size() >= max_output_urls) {
            return refusal(too_many_targets().message, "targets", "Too many stream targets.");
        }
        Expected<std::string> url = build_target_url(target.url, options.stream_key);
        if (!url) {
            return refusal(url.failure().message, "targets",
                           "Stream target URL could not be built.");
        }
        urls.push_back(std::move(*url));
        labels.push_back(target.label);
    }
    return std::nullopt;
}

// With an overlay file, its texts win over the options' from the start; what its first read
// found is said at once.
void read_overlay_file_first(LiveOverlayPlan& live, OverlayInputs& texts,
                             std::vector<std::string>& notes) {
    const auto take = [&](std::string_view key, std::string_view text) {
        std::optional<std::string> refused = overlay_text_refusal(text);
        if (!refused) {
            const auto box = static_cast<std::size_t>(find_overlay(key) - overlay_boxes().data());
            texts[box] = std::string{text};
        }
        return refused;
    };
    for (std::string& note : live.overlay_file->look(OverlayFileWatch::Clock::now(), take)) {
        notes.push_back(std::move(note));
    }
}

} // namespace

Expected<LaunchPlan, LaunchRefusal> make_launch_plan(const StudioOptions& options, PlanUse use) {
    LaunchPlan plan;
    const IngestProfile* profile = find_profile(options.profile_key);
    if (profile == nullptr) {
        return LaunchRefusal{"Unknown profile: " + terminal_safe(options.profile_key) + "\n\n",
                             profile_listing(), "profile", "Unknown ingest profile."};
    }
    plan.scene = find_scene(options.scene_key, options.screen);
    if (plan.scene == nullptr) {
        return LaunchRefusal{"Unknown scene: " + terminal_safe(options.scene_key) + "\n\n",
                             scene_listing(), "scene", "Unknown scene preset."};
    }
    if (!options.record_file.empty() && !is_valid_record_path(options.record_file)) {
        return refusal("Recording path is invalid or too long.\n", "recording",
                       "Recording path was invalid.");
    }
    if (!options.automation_poll_url.empty() && !is_local_bridge_url(options.automation_poll_url)) {
        return refusal("Automation poll URL must be HTTPS or a local Castora bridge URL.\n",
                       "automation", "Automation poll URL was rejected.");
    }
    if (!options.automation_ack_url.empty() && !is_local_bridge_url(options.automation_ack_url)) {
        return refusal("Automation acknowledgement URL must be HTTPS or a local Castora bridge "
                       "URL.\n",
                       "automation", "Automation acknowledgement URL was rejected.");
    }
    if (auto problem = ingest_url_without_scheme(options)) {
        if (auto refused = refused_when_live(use, std::move(*problem), plan.warnings)) {
            return std::move(*refused);
        }
    }
    CommandPlan& command = plan.command;
    std::vector<std::string> labels;
    if (auto refused = build_outputs(options, command.outputs, labels)) {
        return std::move(*refused);
    }
    plan.destinations = named_destinations(command.outputs, labels);
    if (auto problem = stream_key_missing(options, plan.destinations)) {
        if (auto refused = refused_when_live(use, std::move(*problem), plan.warnings)) {
            return std::move(*refused);
        }
    }
    if (command.outputs.empty() && use != PlanUse::ffmpeg_check) {
        return refusal("Missing --ingest-url, --target, or --target-file.\n", "targets",
                       "No ingest or stream target was provided.");
    }
    command.tee = needs_tee_muxer(command.outputs.size(), options.record_file);
    plan.record_file = command.tee ? options.record_file : "";
    // The dry run shows the recording name a run started now would use.
    command.recording = use == PlanUse::dry_run && command.tee
                            ? free_recording_path(options.record_file)
                            : plan.record_file;
    if (command.tee) {
        if (const Expected<std::string> list =
                build_publish_spec(command.outputs, command.recording);
            !list) {
            return refusal(list.failure().message, "publish_url",
                           "Multistream publish URL could not be built.");
        }
    }
    OverlayInputs texts = overlay_inputs(options);
    const bool overlays_change = !options.overlay_file.empty() || options.live_overlays;
    if (!options.automation_poll_url.empty() && !overlays_change) {
        plan.warnings.emplace_back("Warning: the automation bridge changes nothing without live "
                                   "overlays: add --live-overlays (or live_overlays=1 in the "
                                   "studio config).\n");
    }
    if (overlays_change) {
        LiveOverlayPlan& live = plan.live_overlays.emplace();
        live.bridge = {options.automation_poll_url, options.automation_ack_url,
                       options.automation_token};
        if (!options.overlay_file.empty()) {
            live.overlay_file.emplace(options.overlay_file);
            read_overlay_file_first(live, texts, plan.notes);
        }
        if (use != PlanUse::live) {
            command.overlay_folder = run_folder_template();
        } else if (Expected<std::string> folder = make_run_folder()) {
            command.overlay_folder = std::move(*folder);
        } else {
            return refusal(folder.failure().message, "live_overlays",
                           "Live overlay folder could not be made.");
        }
    }
    command.ffmpeg_path = options.ffmpeg_path;
    command.profile = *profile;
    command.capture = profile_mode(*profile);
    command.audio = !options.no_audio;
    command.input_specifier =
        input_specifier(options.video_input, options.audio_input, command.audio);
    command.overlays = drawn_overlay_texts(texts, *plan.scene);
    plan.secrets = stream_secrets(command.outputs, options.stream_key);
    plan.reconnect = options.reconnect;
    plan.verbose = options.verbose;
    plan.video_device = options.video_input.empty() ? "0" : options.video_input;
    return plan;
}
