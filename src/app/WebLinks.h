// Share pages of the main window's seven share buttons.
#pragma once

#include <string>

namespace weblinks {

// Share pages; `productPage` is passed as the service's query value.
std::string FacebookShare(const std::string& productPage);
std::string GoogleShare(const std::string& productPage);
std::string TwitterShare();
std::string DeliciousShare(const std::string& productPage);
std::string DiggShare(const std::string& productPage);
std::string StumbleUponShare(const std::string& productPage);
std::string RedditShare(const std::string& productPage);

// Percent-encodes a text for a query value.
std::string UrlEncode(const std::string& text);

} // namespace weblinks
