#pragma once

#include <string>

// The folders of this user where castora keeps its files.

// ~/Library/Caches/castora on macOS; $XDG_CACHE_HOME/castora (when absolute) or
// ~/.cache/castora elsewhere. Empty without a home folder (HOME).
std::string user_cache_folder();

// ~/Library/Logs/castora on macOS; $XDG_STATE_HOME/castora (when absolute) or
// ~/.local/state/castora elsewhere. Empty without a home folder (HOME).
std::string user_log_folder();
