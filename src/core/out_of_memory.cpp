#include "core/out_of_memory.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void on_out_of_memory() {
    std::fputs("Out of memory.\n", stderr);
    std::exit(2);
}

} // namespace

void install_out_of_memory_handler() {
    std::set_new_handler(on_out_of_memory);
}
