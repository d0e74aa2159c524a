#pragma once

#include "process/child.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Every request castora makes goes through curl, started here and only here, without a shell.
// curl gets -q first, so the user's curl configuration (~/.curlrc) never applies, and reads the
// URL, the headers and the body from its standard input (--config -): they may hold a token or a
// key, and a command line is readable by every user of the machine.
struct CurlRequest {
    std::vector<std::string> options; // on the command line: nothing secret
    std::string url;
    std::vector<std::string> headers;
    std::optional<std::string> data; // the body, as given
};

// The child that makes the request, in a process group of its own and ended at once when castora
// stops; where its output goes is the caller's to choose.
ChildSpec curl_child(const CurlRequest& request);

// A request composed in advance into fixed storage, for a signal handler, which may not
// allocate: its output is discarded.
class PreparedCurl {
  public:
    // False when the request does not fit; nothing is prepared then.
    bool prepare(const CurlRequest& request);

    // Runs the request and waits for it. Async-signal-safe.
    void run_from_signal_handler() const noexcept;

  private:
    static constexpr std::size_t max_arguments = 24;
    static constexpr std::size_t max_text_bytes = 8192;
    std::array<char, max_text_bytes> strings_{}; // the arguments, then the search path
    std::array<char*, max_arguments + 1> argv_{};
    std::array<char, max_text_bytes> input_{};
    std::size_t input_size_ = 0;
    const char* search_path_ = nullptr;
    bool prepared_ = false;
};
