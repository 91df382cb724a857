#include "core/server_url.h"

namespace core {

ServerUrl SplitServerUrl(const std::string& url) {
    std::string s = url;
    static const std::string kScheme = "http://";
    if (s.compare(0, kScheme.size(), kScheme) == 0) s.erase(0, kScheme.size());
    if (!s.empty() && s.back() == '/') s.pop_back();
    const std::string::size_type slash = s.find('/');
    if (slash == std::string::npos || slash == 0) return {};
    return {s.substr(0, slash), s.substr(slash)};
}

}  // namespace core
