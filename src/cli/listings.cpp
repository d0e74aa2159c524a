#include "cli/listings.h"

#include <cstdio>

void print_platforms() {
    std::fputs(
        "Common multistream destinations:\n"
        "  Brevalo: use the RTMP/SRT ingest URL and stream key from the creator live dashboard.\n"
        "  YouTube:      rtmp://a.rtmp.youtube.com/live2/{stream_key}\n"
        "  Facebook:     rtmps://live-api-s.facebook.com:443/rtmp/{stream_key}\n"
        "  Twitch:       rtmp://live.twitch.tv/app/{stream_key}\n"
        "  Kick:         rtmp://fa723fc1b171.global-contribute.live-video.net/app/{stream_key}\n"
        "  TikTok:       use the server URL and stream key shown by TikTok Live Center.\n"
        "  Rumble/X/etc: use their RTMP/RTMPS server URL plus stream key.\n"
        "  Custom SRT:   srt://host:port?mode=caller&streamid=...\n"
        "\n"
        "Use --target for each full destination URL, or --target-file with one URL per line.\n"
        "The later Brevalo restream service should move fan-out to 10Gbps+ ingest/restream "
        "nodes.\n",
        stdout);
}

void print_automation_actions() {
    std::fputs("Brevalo gift/device automation bridge:\n"
               "  overlay_event          Queue visual overlay changes for the studio renderer.\n"
               "  studio_command         Queue local studio commands such as scene swap, mute, or "
               "highlight.\n"
               "  arduino_serial_bridge  Queue serial/USB Arduino commands for the local Castora "
               "bridge.\n"
               "  webhook                Server-approved HTTPS webhook actions.\n"
               "  arduino_http           Server-approved HTTPS Arduino bridge actions.\n"
               "\n"
               "Recommended hardware path: use the local bridge for Arduino/USB/local-network "
               "devices.\n"
               "Server-side HTTP actions require approval and must use public HTTPS endpoints.\n",
               stdout);
}

void print_brand_kit() {
    std::fputs("Brevalo Castora brand kit:\n"
               "  product=Brevalo Castora\n"
               "  runtime=native-lightweight\n"
               "  primary=#c70f3a\n"
               "  ink=#050505\n"
               "  paper=#ffffff\n"
               "  default_watermark=Brevalo\n"
               "  framework_policy=No Electron, React Native, Flutter, Tauri, Node, or bundled "
               "browser shell.\n",
               stdout);
}
