#pragma once

// A failed property aborts with the offending input shown, so libFuzzer keeps it as a crash.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#define FUZZ_CHECK(condition, shown)                                                               \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "property failed: %s\n  input: %s\n", #condition,                 \
                         std::string(shown).c_str());                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace fuzz {

inline std::string bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Writes the input to a file of this process and returns its path.
inline std::string input_file(const std::string& content) {
    static const std::string path = "/tmp/castora-fuzz-" + std::to_string(getpid());
    std::ofstream{path, std::ios::binary | std::ios::trunc} << content;
    return path;
}

} // namespace fuzz
