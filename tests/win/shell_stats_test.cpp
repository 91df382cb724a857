// Shortcuts and the uninstall entry in the prefix's real folders and registry; the statistics report
// captured by a loopback server.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <sstream>

#include "app/UpdaterDlg.h"
#include "build_config.h"
#include "host/registry_key.h"
#include "host/shell_entries.h"
#include "net/download.h"
#include "net/install_stats.h"
#include "support/http_server.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t kUninstallList[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kEntry[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Marrowtide UnInstall";

std::wstring Folder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return path;
}

// The target a saved link points to, read back through the shell's link object.
std::wstring LinkTarget(const std::wstring& link) {
    CoInitialize(nullptr);
    std::wstring target = L"<no link>";
    IShellLinkW* shellLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&shellLink)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            if (SUCCEEDED(file->Load(link.c_str(), STGM_READ))) {
                wchar_t path[MAX_PATH] = {}, arguments[MAX_PATH] = {};
                shellLink->GetPath(path, MAX_PATH, nullptr, 0);
                shellLink->GetArguments(arguments, MAX_PATH);
                target = path;
                if (arguments[0]) target += std::wstring(L" ") + arguments;  // what a link must not have
            }
            file->Release();
        }
        shellLink->Release();
    }
    CoUninitialize();
    return target;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;  // sorted, as the listing is
    for (const std::wstring& n : Listing(folder)) {
        if (!(GetFileAttributesW((folder + L"\\" + n).c_str()) & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(n);
    }
    return names;
}

class ShellEntriesTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveTree(Folder(CSIDL_COMMON_PROGRAMS) + L"\\Marrowtide");
        DeleteFileW((Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Marrowtide.Lnk").c_str());
        SHDeleteKeyW(HKEY_LOCAL_MACHINE, kEntry);
        HKEY k = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallList, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        if (k) RegCloseKey(k);
    }
    CUpdateRun m_run;
};

// A link that says anything else than it should (another target, arguments) is written anew on the next run.
void Tamper(const std::wstring& link, const wchar_t* target, const wchar_t* arguments) {
    CoInitialize(nullptr);
    IShellLinkW* shellLink = nullptr;
    IPersistFile* file = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                              reinterpret_cast<void**>(&shellLink)));
    ASSERT_HRESULT_SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    EXPECT_HRESULT_SUCCEEDED(file->Load(link.c_str(), STGM_READWRITE));
    if (target) shellLink->SetPath(target);
    if (arguments) shellLink->SetArguments(arguments);
    EXPECT_HRESULT_SUCCEEDED(file->Save(link.c_str(), TRUE));
    file->Release();
    shellLink->Release();
    CoUninitialize();
}

TEST_F(ShellEntriesTest, LinksAndUninstallEntryAreRightAfterEveryRun) {
    ASSERT_EQ(WriteProductValue("InstallPath", "C:\\Program Files\\Registered\\Marrowtide"), 0);
    m_run.m_strInstallPath = "C:\\Program Files\\Run\\Marrowtide";
    const std::wstring group = Folder(CSIDL_COMMON_PROGRAMS) + L"\\Marrowtide";
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        if (run == 2) {
            Tamper(group + L"\\Marrowtide 실행.lnk", nullptr, L"/uninstall");
            Tamper(Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Marrowtide.Lnk", L"C:\\elsewhere.exe", nullptr);
            ASSERT_EQ(LinkTarget(group + L"\\Marrowtide 실행.lnk"), L"C:\\Program Files\\Run\\Marrowtide\\Marrowtide.exe /uninstall");
        }
        m_run.CreateShellEntries();
        EXPECT_EQ(FilesIn(group), (std::vector<std::wstring>{L"Marrowtide 삭제.lnk", L"Marrowtide 실시간.lnk",
                                                             L"Marrowtide 실행.lnk"}));
        EXPECT_EQ(LinkTarget(group + L"\\Marrowtide 실행.lnk"), L"C:\\Program Files\\Run\\Marrowtide\\Marrowtide.exe");
        EXPECT_EQ(LinkTarget(group + L"\\Marrowtide 실시간.lnk"), L"C:\\Program Files\\Run\\Marrowtide\\MarRtime.exe");
        EXPECT_EQ(LinkTarget(group + L"\\Marrowtide 삭제.lnk"), L"C:\\Program Files\\Run\\Marrowtide\\MarwDel.exe");
        // The desktop link's target comes from the registry's "InstallPath"; its extension is spelled ".Lnk".
        const auto desktop = FilesIn(Folder(CSIDL_COMMON_DESKTOPDIRECTORY));
        EXPECT_EQ(std::count(desktop.begin(), desktop.end(), std::wstring(L"Marrowtide.Lnk")), 1);
        EXPECT_EQ(LinkTarget(Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Marrowtide.Lnk"),
                  L"C:\\Program Files\\Registered\\Marrowtide\\Marrowtide.exe");
        std::wstring name, command;
        EXPECT_TRUE(ReadHklmString(kEntry, L"DisplayName", name));
        EXPECT_EQ(name, L"Marrowtide 삭제");
        EXPECT_TRUE(ReadHklmString(kEntry, L"UninstallString", command));
        EXPECT_EQ(command, L"\"C:\\Program Files\\Registered\\Marrowtide\\MarwDel.exe\"");
    }
}

TEST_F(ShellEntriesTest, NoEntryWhenTheUninstallListIsMissing) {
    ASSERT_EQ(WriteProductValue("InstallPath", "C:\\M"), 0);
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallList);
    WriteUninstallEntry("C:\\M");
    HKEY k = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallList, 0, KEY_READ, &k), ERROR_SUCCESS);  // never created
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallList, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    if (k) RegCloseKey(k);
}

TEST(UninstallCommand, QuotedOnlyWhenThePathHoldsABlank) {
    EXPECT_EQ(UninstallCommand("C:\\Program Files\\Marrowtide"), "\"C:\\Program Files\\Marrowtide\\MarwDel.exe\"");
    EXPECT_EQ(UninstallCommand("C:\\Marrowtide"), "C:\\Marrowtide\\MarwDel.exe");
    EXPECT_EQ(UninstallCommand(""), "\\MarwDel.exe");
}

TEST(ShellFolders, FamilyAndFallbacks) {
    const FolderLookup none = [](int) { return CString(); };
    const FolderLookup named = [](int csidl) {
        CString s;
        s.Format("folder-%d", csidl);
        return s;
    };
    ShellFolders f = ResolveShellFolders(false, named);
    EXPECT_EQ(f.programs, "folder-23");  // all users' Programs
    EXPECT_EQ(f.desktop, "folder-25");
    f = ResolveShellFolders(false, none);  // the NT family uses an empty lookup as it is
    EXPECT_EQ(f.programs, "");
    EXPECT_EQ(f.desktop, "");
    f = ResolveShellFolders(true, named);
    EXPECT_EQ(f.programs, "folder-2");  // the current user's
    EXPECT_EQ(f.desktop, "folder-16");
    f = ResolveShellFolders(true, none);
    EXPECT_EQ(f.programs, "C:\\windows\\시작 메뉴\\프로그램");
    EXPECT_EQ(f.desktop, "C:\\windows\\바탕 화면");
    EXPECT_EQ(Utf16(ShellFolderPath(CSIDL_COMMON_PROGRAMS).str()), Folder(CSIDL_COMMON_PROGRAMS));
}

// The addresses of the network cards this process sees, as Linux lists them (Wine's drive Z: is the root):
// the cards of its network namespace (/proc/self/net/dev: a namespace with only loopback has none, even
// where /sys still shows the machine's), each with its address from /sys; loopback has none.
std::vector<std::string> MachineAddresses() {
    std::vector<std::string> out;
    std::istringstream dev(ReadAll(L"Z:\\proc\\self\\net\\dev"));
    std::string line;
    for (int n = 0; std::getline(dev, line); ++n) {
        const std::size_t colon = line.find(':');
        if (n < 2 || colon == std::string::npos) continue;  // two heading lines
        const std::string card = line.substr(line.find_first_not_of(' '), colon - line.find_first_not_of(' '));
        std::string hex;
        for (char c : ReadAll(L"Z:\\sys\\class\\net\\" + Utf16(card) + L"\\address")) {
            if (c != ':' && c != '\n') hex += c;
        }
        if (!hex.empty() && hex.find_first_not_of('0') != std::string::npos) out.push_back(hex);
    }
    return out;
}

// The report names the adapter the system answers for, when there is one: one of the machine's cards.
TEST(InstallStats, TheReportAsTheServerReceivesIt) {
    TestHttpServer server(UPDATER_STATS_HOST);
    ASSERT_TRUE(server.listening());
    const CString adapter = GetMacAddress();
    EXPECT_EQ(SendInstallStats(adapter), 1);
    EXPECT_EQ(SendInstallStats(""), 1);  // no adapter answered
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const std::string& r : requests) {
        EXPECT_EQ(r.substr(0, r.find("\r\n")), "GET /member/stats.asp HTTP/1.0");
        EXPECT_NE(r.find(std::string(kRequestHeaders, kRequestHeadersLength - 2)), std::string::npos) << r;
        EXPECT_NE(r.find("\r\nHost: " UPDATER_STATS_HOST), std::string::npos);
    }
    const std::string body0 = requests[0].substr(requests[0].find("\r\n\r\n") + 4);
    const std::string body1 = requests[1].substr(requests[1].find("\r\n\r\n") + 4);
    const std::string bare = "InstallInfo=R000046,R000046,";
    EXPECT_EQ(body1, bare);
    const auto addresses = MachineAddresses();
    if (addresses.empty()) {
        EXPECT_EQ(body0, bare);  // nothing to name
        return;
    }
    ASSERT_EQ(body0.size(), bare.size() + 13) << body0;
    EXPECT_EQ(body0.substr(0, bare.size()), bare);
    EXPECT_EQ(body0.back(), ';');
    const std::string hex = body0.substr(bare.size(), 12);
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), hex), addresses.end()) << hex;
}

TEST(InstallStats, EmptyTextsSendNothingAndAnUnreachableServerIsSilent) {
    TestHttpServer server(UPDATER_STATS_HOST);
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(SendHttpRequest("", "/member/stats.asp", "x"), 87);
    EXPECT_EQ(SendHttpRequest(UPDATER_STATS_HOST, "", "x"), 87);
    EXPECT_EQ(SendHttpRequest(UPDATER_STATS_HOST, "/member/stats.asp", ""), 87);
    EXPECT_TRUE(server.Requests().empty());
    const DWORD t0 = GetTickCount();
    EXPECT_EQ(SendHttpRequest("127.0.0.29", "/member/stats.asp", "x"), 0);
    EXPECT_LT(GetTickCount() - t0, 2000u);
}

}  // namespace
