#include "ffmpeg/command_plan.h"

CaptureMode profile_mode(const IngestProfile& profile) {
    return {profile.width, profile.height, static_cast<double>(profile.fps)};
}
