// A host name that does not resolve: whole runs in which the download site named by a version-info file
// has no address. Runs inside tests/win/tools/offline.sh, where the lookup fails without leaving the machine.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "fault_fixture.h"

namespace fault_matrix {
namespace {

const char kNowhere[] = "update.marrowtide.invalid";

TEST_F(FaultTest, HostNameThatDoesNotResolve) {
    ASSERT_TRUE(OnlyLoopbackNetwork()) << "run this inside tests/win/tools/offline.sh: the lookup must not leave the machine";
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    addrinfo* found = nullptr;
    ASSERT_NE(getaddrinfo(kNowhere, "80", nullptr, &found), 0) << "the name resolves here";
    WSACleanup();

    const std::string site = std::string("SITE=") + kNowhere + "\r\n";
    RunAll({
        Logs({"host name that does not resolve (the DB files' site)",
         [site](TestHttpServer& s) {
             s.Serve("/update/db/DBUpdate.ver", Ok(site + "SUBDIR=db\r\na.dll=2\r\nb.gdb=2\r\n"));
             ServeListed(s);
             ServeProgramCurrent(s);
         },
         nullptr, true,
         [] {
             EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
             EXPECT_EQ(RecordedVersion(L"b.gdb"), L"1");
         }},
             "a.dll failed after"),
        Logs({"host name that does not resolve (the program files' site)",
         [site](TestHttpServer& s) {
             s.Serve("/update/db/DBUpdate.ver", Ok("SITE=127.0.0.2\r\nSUBDIR=db\r\nb.gdb=2\r\n"));
             ServeListed(s);
             s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(site + "SUBDIR=marrowtide\r\nTessvane.exe=2\r\n"));
             s.Serve("/marrowtide/Tessvane.exe", Ok("new scanner"));
         },
         nullptr, true,
         [] {
             EXPECT_EQ(RecordedVersion(L"b.gdb"), L"2") << "the DB pass went through";
             EXPECT_EQ(RecordedVersion(L"Tessvane.exe"), L"1");
         }},
             "Tessvane.exe failed after"),
    });
}

}  // namespace
}  // namespace fault_matrix
