#pragma once

#include "catalog/overlay_boxes.h"
#include "core/options.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

struct ScenePreset;

// The five overlay texts a launch is given, in box order: each absent, empty or a text.
using OverlayInputs = std::array<OptionalText, overlay_count>;

// The options' overlay texts.
OverlayInputs overlay_inputs(const StudioOptions& options);

// Each box's text, or nothing when the box is not drawn: the lower third when the scene has one
// or a title or subtitle is given, the scoreboard likewise, the watermark always. A text given
// empty stays empty; one not given is the default (the scene's name for the title).
using OverlayTexts = std::array<std::optional<std::string>, overlay_count>;
OverlayTexts drawn_overlay_texts(const OverlayInputs& given, const ScenePreset& scene);

// A text as a file drawtext reads while live: what the launch texts lose to quoting is kept as
// typed; control characters, line breaks and bytes outside well-formed UTF-8 are dropped, and
// the text is cut at 255 bytes without splitting a character. An emptied text shows the box's
// `when_emptied`: the default watermark, or for the other boxes one space, the box with nothing in
// it (drawtext cannot take a box away).
std::string overlay_file_text(const OverlayBox& box, std::string_view text);
