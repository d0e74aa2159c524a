#include "cli/sample_config.h"

#include "core/identity.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string sample_config_text() {
    // The service endpoints are always the built-in ones, never values from this launch.
    std::string text = "# Brevalo Castora ";
    text += app_version;
    text += "\n"
            "profile=balanced_480p\n"
            "scene=gift_war_scoreboard\n"
            "screen=0\n"
            "no_audio=0\n"
            "ffmpeg=ffmpeg\n"
            "video_input=\n"
            "audio_input=\n"
            "ingest_url=rtmp://live.example.com/live\n"
            "stream_key=CHANGE_ME\n"
            "target=rtmp://a.rtmp.youtube.com/live2/YOUTUBE_KEY\n"
            "record_file=brevalo-local-recording.mkv\n"
            "overlay_title=Brevalo Live\n"
            "overlay_subtitle=Castora\n"
            "score_left=Heaven 0\n"
            "score_right=Hell 0\n"
            "watermark=Brevalo\n"
            "virtual_background=0\n"
            "automation_poll_url=http://127.0.0.1:18444/brevalo/actions\n"
            "automation_ack_url=http://127.0.0.1:18444/brevalo/ack\n"
            "automation_token=\n"
            "update_url=";
    text += default_update_url;
    text += "\nreport_url=";
    text += default_report_url;
    text += "\n"
            "skip_update_check=0\n"
            "auto_download_update=1\n"
            "disable_error_reporting=0\n"
            "reconnect=1\n"
            // Keys added since the first release, after its 27 lines.
            "target_file=\n"
            "live_overlays=0\n"
            "overlay_file=\n"
            "verbose=0\n";
    return text;
}

namespace {

int report_unwritable(const std::string& path, int error) {
    std::fprintf(stderr, "Could not write sample config %s: %s\n", path.c_str(),
                 std::strerror(error));
    return 2;
}

} // namespace

int write_sample_config(const std::string& path) {
    // It is where stream keys and the bridge token go: readable by the user alone, an existing
    // file included.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        const int error = errno;
        if (fd >= 0) {
            close(fd);
        }
        return report_unwritable(path, error);
    }
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        fchmod(fd, 0600);
    }
    const std::string text = sample_config_text();
    // A full disk or a failing device shows only in the write or the close: say so rather
    // than end with success over a file that holds nothing.
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int write_error = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        return report_unwritable(path, written ? errno : write_error);
    }
    return 0;
}
