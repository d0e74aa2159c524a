#include "process/curl.h"

#include "core/write_all.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <spawn.h>
#endif

extern char** environ;

namespace {

// A value in curl's configuration syntax, between double quotes.
std::string config_quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
        case '\\':
        case '"':
            quoted += '\\';
            quoted += c;
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::vector<std::string> curl_arguments(const CurlRequest& request) {
    std::vector<std::string> argv{"curl", "-q", "--config", "-"};
    argv.insert(argv.end(), request.options.begin(), request.options.end());
    return argv;
}

std::string curl_config(const CurlRequest& request) {
    std::string config = "url = " + config_quoted(request.url) + "\n";
    for (const std::string& header : request.headers) {
        config += "header = " + config_quoted(header) + "\n";
    }
    if (request.data) {
        config += "data-binary = " + config_quoted(*request.data) + "\n";
    }
    return config;
}

// Where the system looks when PATH is not set.
constexpr const char* default_search_path = "/usr/bin:/bin";

} // namespace

ChildSpec curl_child(const CurlRequest& request) {
    ChildSpec spec;
    spec.argv = curl_arguments(request);
    spec.search_path = true;
    spec.own_process_group = true;
    spec.input = curl_config(request);
    return spec;
}

bool PreparedCurl::prepare(const CurlRequest& request) {
    prepared_ = false;
    const std::vector<std::string> arguments = curl_arguments(request);
    const std::string input = curl_config(request);
    const char* path = std::getenv("PATH");
    const std::string search_path = path != nullptr ? path : default_search_path;
    std::size_t used = 0;
    const auto keep = [&](const std::string& text) -> char* {
        if (used + text.size() + 1 > strings_.size()) {
            return nullptr;
        }
        char* kept = strings_.data() + used;
        text.copy(kept, text.size());
        kept[text.size()] = '\0';
        used += text.size() + 1;
        return kept;
    };
    if (arguments.size() > max_arguments || input.size() > input_.size()) {
        return false;
    }
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        argv_[i] = keep(arguments[i]);
        if (argv_[i] == nullptr) {
            return false;
        }
    }
    argv_[arguments.size()] = nullptr;
    search_path_ = keep(search_path);
    input.copy(input_.data(), input.size());
    input_size_ = input.size();
    prepared_ = search_path_ != nullptr;
    return prepared_;
}

void PreparedCurl::run_from_signal_handler() const noexcept {
    int input[2];
    if (!prepared_ || pipe(input) != 0) {
        return;
    }
    // The request is far smaller than a pipe holds: it is all there before curl starts.
    write_all(input[1], input_.data(), input_size_);
    close(input[1]);
    char program[1024];
    const auto program_in = [&](const char*& folders) {
        const char* end = std::strchr(folders, ':');
        const std::size_t length =
            end != nullptr ? static_cast<std::size_t>(end - folders) : std::strlen(folders);
        const char* folder = length == 0 ? "." : folders;
        const std::size_t folder_length = length == 0 ? 1 : length;
        folders = end != nullptr ? end + 1 : nullptr;
        if (folder_length + 6 > sizeof program) {
            return false;
        }
        std::memcpy(program, folder, folder_length);
        std::memcpy(program + folder_length, "/curl", 6);
        return true;
    };
    pid_t child = -1;
#if defined(__APPLE__)
    // posix_spawn is a system call on macOS and runs no fork handlers.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    for (const char* folders = search_path_; folders != nullptr && child < 0;) {
        if (program_in(folders) &&
            posix_spawn(&child, program, &actions, nullptr, argv_.data(), environ) != 0) {
            child = -1;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
#else
    // _Fork runs no fork handlers and is async-signal-safe, unlike fork.
    child = _Fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(input[0], 0);
        dup2(null, 1);
        dup2(null, 2);
        for (const char* folders = search_path_; folders != nullptr;) {
            if (program_in(folders)) {
                execve(program, argv_.data(), environ);
            }
        }
        _exit(127);
    }
#endif
    close(input[0]);
    if (child < 0) {
        return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}
