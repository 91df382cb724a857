// The reference nginx setup (server/) serves the same file for every path form the updater sends.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>

#include "net/download.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

TEST(ReferenceServer, ServesEveryPathFormOfTheSameFile) {
    const char* host = "127.0.0.31";  // the nginx fixture
    const struct {
        const char* object;
        const char* expected;
    } cases[] = {
        {"update/db/probe.gdb", "probe gdb bytes\r\n"},                       // the DB version-info path form
        {"/update/db/probe.gdb", "probe gdb bytes\r\n"},                      // a "SUBDIR" path
        {"http://127.0.0.31/update/db//probe.gdb", "probe gdb bytes\r\n"},    // the DB pass's default folder
        {"/marrowtide/sub/probe.dll", "probe program bytes\r\n"},
    };
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring local = std::wstring(tmp) + L"nginx-probe.bin";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.object);
        DownloadRequest r;
        r.server = host;
        r.object = c.object;
        r.localFile = Utf8(local);
        ASSERT_TRUE(Download(r, nullptr, CStopSignal()).ok);
        std::ifstream f(local.c_str(), std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        EXPECT_EQ(s.str(), c.expected);
    }
    DownloadRequest missing;
    missing.server = host;
    missing.object = "/update/db/missing.gdb";
    missing.localFile = Utf8(local);
    EXPECT_FALSE(Download(missing, nullptr, CStopSignal()).ok);
}

}  // namespace
