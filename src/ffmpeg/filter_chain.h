#pragma once

#include <optional>
#include <string>
#include <string_view>

struct CommandPlan;

inline constexpr std::size_t max_filter_chain_length = 4095;

// Appends one drawtext element (preceded by ',' when the chain is not empty), or nothing when
// the sanitised text is empty. An absent text counts as empty.
void append_drawtext(std::string& chain, std::optional<std::string_view> text, std::string_view x,
                     std::string_view y, int fontsize, std::string_view boxcolor);

// The file of an overlay in the folder of live overlay texts.
std::string overlay_file_path(std::string_view folder, std::string_view key);

// Scale and pad to the profile's size, then the plan's overlay boxes; with an overlay folder,
// every box drawn reads its text from its file there, again for every frame. A capture at
// another rate than the profile's starts with an fps filter, which keeps the stream at the
// profile's rate and key-frame interval.
std::string build_filter_chain(const CommandPlan& plan);

// True when the chain draws any text at all.
bool draws_text(const CommandPlan& plan);
