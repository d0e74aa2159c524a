#pragma once

#include "ffmpeg/camera_modes.h"

#include <optional>
#include <string>

// The capture mode castora chose for a camera that refused a profile's mode, remembered per video
// input and profile mode in the user's cache folder, so the next launch opens the camera in it at
// once. The memory keeps its most recent entries within 64 KiB.

std::optional<CaptureMode> remembered_camera_mode(const std::string& video_input,
                                                  const CaptureMode& profile_mode);

// Remembers the mode, or forgets it (nothing).
void remember_camera_mode(const std::string& video_input, const CaptureMode& profile_mode,
                          std::optional<CaptureMode> mode);
