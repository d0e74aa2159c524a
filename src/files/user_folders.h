#pragma once

#include <string>

// The folders of this user where castora keeps its files.

// ~/Library/Caches/castora on macOS; $XDG_CACHE_HOME/castora (when absolute) or
// ~/.cache/castora elsewhere. Empty without a home folder (HOME).
std::string user_cache_folder();

// ~/Library/Logs/castora on macOS; $XDG_STATE_HOME/castora (when absolute) or
// ~/.local/state/castora elsewhere. Empty without a home folder (HOME).
std::string user_log_folder();

// The folder for this user's temporary files: $TMPDIR when it is an absolute path of letters,
// digits and "/._-" only (a Mac gives each account its own there, while /tmp is shared by all;
// other characters would need quoting wherever the path goes), /tmp otherwise. Without a
// trailing slash.
std::string temporary_folder();
