#include "core/edit_distance.h"

#include <algorithm>
#include <vector>

std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t limit) {
    const std::size_t too_far = limit + 1;
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) {
        return too_far;
    }
    // Three rows of the table: the one before the previous is needed for a swap.
    const std::size_t width = b.size() + 1;
    std::vector<std::size_t> before(width), previous(width), current(width);
    for (std::size_t j = 0; j < width; ++j) {
        previous[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j < width; ++j) {
            const std::size_t replaced = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, replaced});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                current[j] = std::min(current[j], before[j - 2] + 1);
            }
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return std::min(previous[b.size()], too_far);
}
