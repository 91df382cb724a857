#pragma once
#include <string>

namespace core {

struct ServerUrl {
    std::string host;  // empty when the URL has no usable host part
    std::string path;  // from the first "/" after the host; no trailing "/" (only one is removed)
};

// Splits a base URL such as "http://host/a/b/" into host "host" and path "/a/b".
// Only the exact lower-case prefix "http://" is removed; a URL with no "/" after the
// host, or one that starts with "/", gives an empty host and path.
ServerUrl SplitServerUrl(const std::string& url);

}  // namespace core
