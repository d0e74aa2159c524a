#include "core/out_of_memory.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

BeforeOutOfMemoryExit before_exit_hook = nullptr;

[[noreturn]] void on_out_of_memory() {
    if (before_exit_hook != nullptr) {
        before_exit_hook();
    }
    std::fputs("Out of memory.\n", stderr);
    std::exit(2);
}

} // namespace

void install_out_of_memory_handler(BeforeOutOfMemoryExit before_exit) {
    before_exit_hook = before_exit;
    std::set_new_handler(on_out_of_memory);
}
