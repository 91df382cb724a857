#include "core/server_url.h"

#include <gtest/gtest.h>

namespace {

struct UrlCase {
    const char* url;
    const char* host;
    const char* path;
};

TEST(SplitServerUrl, Table) {
    const UrlCase cases[] = {
        {"http://host/a/b/", "host", "/a/b"},
        {"http://host/a//", "host", "/a/"},          // only one trailing slash goes
        {"host", "", ""},                             // no slash after the host
        {"/a", "", ""},                               // slash at position 0
        {"", "", ""},
        {"HTTP://host/x", "HTTP:", "//host/x"},       // the scheme test is exact and lower-case
        {"http://update.example/marrowtide/", "update.example", "/marrowtide"},
        {"http://host/", "", ""},                     // "host/" loses its slash, then has none
        {"http://host//", "host", "/"},               // one slash removed, the other is the path
        {"http://", "", ""},
        {"http:///x", "", ""},                        // empty host: the first slash is at 0
        {"host/path", "host", "/path"},               // no scheme is fine
        {"http://127.0.0.2/marrowtide/", "127.0.0.2", "/marrowtide"},
        {"http://h:8080/p/", "h:8080", "/p"},         // the port stays part of the host text
        {"http://http://h/p", "http:", "//h/p"},      // the prefix is removed once
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.url);
        const core::ServerUrl r = core::SplitServerUrl(c.url);
        EXPECT_EQ(r.host, c.host);
        EXPECT_EQ(r.path, c.path);
    }
}

}  // namespace
