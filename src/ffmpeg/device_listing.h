#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// FFmpeg lists the capture devices by failing to open an input named "": its AVFoundation input
// writes a section of video devices and one of audio devices on standard error, then FFmpeg
// ends with an error (5.x and 6.x write ": Input/output error", 7.x and later "Error opening
// input file ."). The sections read the same in every release:
//
//     [AVFoundation indev @ 0x143f04e50] AVFoundation video devices:
//     [AVFoundation indev @ 0x143f04e50] [0] FaceTime HD Camera
//     [AVFoundation indev @ 0x143f04e50] [1] Capture screen 0
//     [AVFoundation indev @ 0x143f04e50] AVFoundation audio devices:
//     [AVFoundation indev @ 0x143f04e50] [0] MacBook Pro Microphone

struct CaptureDevice {
    std::string index;
    std::string name;
};

struct DeviceListing {
    std::vector<CaptureDevice> video;
    std::vector<CaptureDevice> audio;
};

// The devices of the sections in FFmpeg's text; nothing when it holds no section.
std::optional<DeviceListing> read_device_listing(std::string_view ffmpeg_errors);

// The listing as castora prints it: a heading per kind naming the option its index goes with,
// one line per device, screens marked, names safe for the terminal.
std::string device_listing_text(const DeviceListing& listing);
