#include "update/service_url.h"

#include <cstring>

namespace {

bool is_allowed_byte(unsigned char byte) noexcept {
    if (byte < 33 || byte == 127) {
        return false;
    }
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9')) {
        return true;
    }
    return byte != 0 && std::strchr(":/?&=._-%+#,~", byte) != nullptr;
}

} // namespace

bool is_safe_service_url(const char* url) noexcept {
    if (url == nullptr || std::strncmp(url, "https://", 8) != 0) {
        return false;
    }
    const std::size_t length = std::strlen(url);
    if (length == 0 || length > max_service_url_length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (!is_allowed_byte(static_cast<unsigned char>(url[i]))) {
            return false;
        }
    }
    return true;
}
