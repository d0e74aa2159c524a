#pragma once

#include "catalog/profiles.h"
#include "ffmpeg/camera_modes.h"
#include "ffmpeg/overlays.h"
#include "publish/output_urls.h"

#include <string>

// Everything one FFmpeg command is made from. A launch makes one; each run of FFmpeg takes a copy
// with its own recording name and, for a camera that refused the profile's mode, the mode it
// offers instead, and makes its command from that.
struct CommandPlan {
    std::string ffmpeg_path;
    IngestProfile profile;       // the picture sent, its bitrates and key-frame interval
    CaptureMode capture;         // asked of the capture device: the profile's size and rate, or
                                 // a mode the camera offers
    std::string input_specifier; // "video:audio" of the AVFoundation input
    bool audio = true;
    OverlayTexts overlays;      // each box drawn, with its text
    std::string overlay_folder; // empty: the texts are in the command; otherwise each box reads
                                // its file there, again for every frame
    OutputUrlList outputs;      // the destinations, in output order
    bool tee = false;           // one tee list for several outputs or a recording, not one URL
    std::string recording;      // the recording file this run writes (in the tee list), or empty
};

// The capture mode the profile asks for.
CaptureMode profile_mode(const IngestProfile& profile);
