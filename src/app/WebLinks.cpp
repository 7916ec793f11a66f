#include "app/WebLinks.h"

#include <cctype>
#include <cstdio>

namespace weblinks {

namespace {

// Title of the product page as the share services show it, already encoded.
const char* const kEncodedTitle = "Vantrel%20-%20batch%20video%20and%20audio%20converter";
const char* const kTweet = "Vantrel%20converts%20my%20videos%20and%20music%20in%20batches%3A%20"
                           "https%3A%2F%2Fvantrel.org%2F";

std::string WithTitle(const std::string& base, const std::string& productPage) {
    return base + UrlEncode(productPage) + "&title=" + kEncodedTitle;
}

} // namespace

std::string UrlEncode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char buffer[4];
            std::snprintf(buffer, sizeof buffer, "%%%02X", c);
            out += buffer;
        }
    }
    return out;
}

std::string FacebookShare(const std::string& productPage) {
    return "https://www.facebook.com/sharer/sharer.php?u=" + UrlEncode(productPage);
}

std::string GoogleShare(const std::string& productPage) {
    return "https://www.google.com/bookmarks/mark?op=edit&url=" + UrlEncode(productPage);
}

std::string TwitterShare() {
    return std::string("https://twitter.com/intent/tweet?text=") + kTweet;
}

std::string DeliciousShare(const std::string& productPage) {
    return WithTitle("https://del.icio.us/post?url=", productPage);
}

std::string DiggShare(const std::string& productPage) {
    return WithTitle("https://digg.com/submit?url=", productPage);
}

std::string StumbleUponShare(const std::string& productPage) {
    return WithTitle("https://www.stumbleupon.com/submit?url=", productPage);
}

std::string RedditShare(const std::string& productPage) {
    return WithTitle("https://www.reddit.com/submit?url=", productPage);
}

} // namespace weblinks
