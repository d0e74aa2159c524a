// The dry-run printer on arbitrary argument vectors (the input split at NUL bytes, which no
// argument can hold). Pasted into a POSIX shell, the printed line must run the very same
// vector: it word-splits back to the original elements, every bare word is made of the safe
// characters only, and the command word is never taken for an assignment or a reserved word.

#include "fuzz_support.h"
#include "process/shell_quote.h"
#include "shell_words.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FfmpegArgv argv;
    if (size > 0) {
        for (const std::string_view element : fuzz::split(text, '\0', 64)) {
            argv.emplace_back(element);
        }
    }
    const std::string line = shell_command_line(argv);

    const auto words = fuzz::split_shell_words(
        line, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789,-./:=_");
    FUZZ_CHECK(words.has_value(), fuzz::show(line));
    FUZZ_CHECK(words->size() == argv.size(), fuzz::show(line));
    for (std::size_t i = 0; i < argv.size(); ++i) {
        FUZZ_CHECK((*words)[i].text == argv[i], fuzz::show(line) + " element " + std::to_string(i));
    }
    FUZZ_CHECK(words->empty() || !fuzz::misread_in_command_position(words->front()),
               fuzz::show(line));
    return 0;
}
