#include "update/service_url.h"

#include <gtest/gtest.h>

#include <string>

TEST(ServiceUrl, AcceptsOnlyHttpsWithTheQuotableCharacterSet) {
    const std::string longest = "https://h/" + std::string(1013, 'a');
    for (const std::string& good :
         {std::string{"https://"}, longest,
          std::string{"https://api.example.com/u?a=1&b=%20+c,d#frag"},
          std::string{"https://h/~user/x_y-z"}, std::string{"https://h/caf%C3%A9"}}) {
        EXPECT_TRUE(is_safe_service_url(good.c_str())) << good;
    }
    for (const std::string& bad :
         {longest + "a", std::string{""}, std::string{"http://h/"}, std::string{"HTTPS://h/"},
          std::string{"https://u@h/"}, std::string{"https://[::1]/"}, std::string{"https://h/a b"},
          std::string{"https://h/a\tb"}, std::string{"https://h/a\nb"}, std::string{"https://h/'"},
          std::string{"https://h/\""}, std::string{"https://h/$(x)"}, std::string{"https://h/;"},
          std::string{"https://h/caf\xC3\xA9"}, std::string{"https://h/\x7f"}}) {
        EXPECT_FALSE(is_safe_service_url(bad.c_str())) << bad;
    }
    EXPECT_FALSE(is_safe_service_url(nullptr));
}
