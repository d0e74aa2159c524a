#include "cli/refusal.h"

#include <cstdio>

void tell(const LaunchRefusal& refusal) {
    std::fputs(refusal.message.c_str(), stderr);
    std::fflush(stderr);
    std::fputs(refusal.listing.c_str(), stdout);
}
