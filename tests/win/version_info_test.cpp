// Version-info files read by the update dialog's steps, with real files and version records of the prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include <fstream>

#include "app/UpdaterDlg.h"
#include "host/registry_key.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t kInstall[] = L"C:\\vi-test\\install";

// Text in code page 949, as the server's files are.
std::string Cp949(const std::wstring& s) {
    const int n = WideCharToMultiByte(949, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(949, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring WriteTemp(const std::string& bytes) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::wstring path = std::wstring(dir) + L"test.ver";
    std::ofstream(path.c_str(), std::ios::binary) << bytes;
    return path;
}

void Touch(const std::wstring& path) {
    EnsureFolder(path.substr(0, path.rfind(L'\\')));
    std::ofstream(path.c_str(), std::ios::binary) << "installed";
}

std::vector<std::string> Names(const CUpdateFileArray& list) {
    std::vector<std::string> out;
    for (const UPDATE_FILE_INFO& r : list) out.push_back(r.szFileName.str());
    return out;
}

class VersionInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        SHDeleteKeyW(HKEY_LOCAL_MACHINE, product::kProductKeyPathW);
        m_run.m_strInstallPath = Utf8(kInstall).c_str();
        m_run.m_strServerHost = "server.host";
        RemoveTree(L"C:\\vi-test");
        EnsureFolder(kInstall);
    }
    CUpdateRun m_run;
};

TEST_F(VersionInfoTest, FilesTable) {
    const struct {
        const char* name;
        std::string bytes;
        bool result;
        std::vector<std::string> due;
        const char* site;
        const char* subDir;
    } cases[] = {
        {"0 bytes", "", false, {}, "before", "before"},
        {"one CR LF", "\r\n", true, {}, "before", "before"},
        {"LF only, SITE first: a host holding line ends is ignored", "SITE=h\na.dll=1\n", true, {}, "before", "before"},
        {"site, folder and entries in order", "SITE=dl.host\r\nSUBDIR=update/db/\r\nb.gdb=2\r\na.dll=1,0,1,0",
         true, {"b.gdb", "a.dll"}, "dl.host", "/update/db"},
        {"empty SITE gives the server host", "SITE=\r\n", true, {}, "server.host", "before"},
        {"comments and blank-then-semicolon", "; c=1\r\n#d=1\r\n ;e=1\r\n", true, {" ;e"}, "before", "before"},
        {"blank before = is no SITE line (and a name ending in a blank)", "SITE =h\r\n", true, {}, "before", "before"},
        {"a name listed again: the last line wins", "a.dll=1\r\nb.dll=1\r\nA.DLL=2\r\n", true, {"b.dll", "A.DLL"}, "before",
         "before"},
        {"a line that is no code page 949 text is skipped", "\xFF\xFE.dll=1\r\nok.dll=1\r\n", true, {"ok.dll"}, "before",
         "before"},
        {"more than 1000 entries: unreadable", [] {
             std::string many;
             for (int i = 0; i <= 1000; ++i) many += "f" + std::to_string(i) + ".dll=1\r\n";
             return many;
         }(), false, {}, "before", "before"},
        {"hostile names are never due",
         "..\\evil.dll=1\r\nsub\\x.dll=1\r\nC:\\Windows\\x.dll=1\r\n\\\\host\\share\\x=1\r\nx:y=1\r\nCON=1\r\n"
         "NUL.txt=1\r\nCOM1=1\r\nctl\x01.dll=1\r\n.. =1\r\na?.dll=1\r\nCONIN$=1\r\nInstallPath=C:\\windows\r\nok.dll=1\r\n",
         true, {"ok.dll"}, "before", "before"},
        {"an HTML page yields no usable line", "<html><body>404 Not Found</body></html>\r\n", true, {}, "before", "before"},
        {"text after NUL is not read", std::string("a.dll=1\r\n\0b.dll=1\r\n", 19), true, {"a.dll"}, "before", "before"},
        {"last SITE wins", "SITE=one\r\nSITE=two", true, {}, "two", "before"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_run.m_strSite = "before";
        m_run.m_strSubDir = "before";
        CUpdateFileArray list;
        EXPECT_EQ(m_run.ReadVersionInfo(Utf8(WriteTemp(c.bytes)).c_str(), &list) != FALSE, c.result);
        EXPECT_EQ(Names(list), c.due);
        EXPECT_EQ(m_run.m_strSite, c.site);
        EXPECT_EQ(m_run.m_strSubDir, c.subDir);
    }
    CUpdateFileArray list;
    EXPECT_FALSE(m_run.ReadVersionInfo("C:\\vi-test\\missing.ver", &list));
}

TEST_F(VersionInfoTest, FieldsAndLimitsReachTheRecord) {
    const std::string longVersion(200, 'v');
    CUpdateFileArray list;
    ASSERT_TRUE(m_run.ReadVersionInfo(Utf8(WriteTemp("a.dll=1.0,,1,1\r\nb.exe=2.0,5,0,1\r\nc.dll=" + longVersion +
                                                     "\r\n" + std::string(259, 'x') + "=1\r\n" +
                                                     std::string(300, 'n') + "=1\r\n"))
                                          .c_str(),
                                      &list));
    // Names of 259 characters and more cannot be placed in any folder without cutting the path short:
    // such entries are never due.
    ASSERT_EQ(Names(list), (std::vector<std::string>{"a.dll", "b.exe", "c.dll"}));
    EXPECT_EQ(list[0].szVersion, "1.0");
    EXPECT_EQ(list[0].nReserved, 1);
    EXPECT_EQ(list[0].bRegister, 1);
    EXPECT_EQ(list[0].bOpen, 0);
    EXPECT_EQ(list[1].nReserved, 5);
    EXPECT_EQ(list[1].bOpen, 1);
    EXPECT_EQ(list[2].szVersion, std::string(127, 'v').c_str());
}

TEST_F(VersionInfoTest, KoreanNamesAndVersionsPassThroughUnchanged) {
    const std::wstring name = L"업데이트.dll";
    const std::wstring version = L"버전2";
    const std::string file = Cp949(L"SITE=서버\r\n" + name + L"=" + version + L",0,1,0\r\n");
    CUpdateFileArray list;
    ASSERT_TRUE(m_run.ReadVersionInfo(Utf8(WriteTemp(file)).c_str(), &list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(Utf16(list[0].szFileName.str()), name);
    EXPECT_EQ(Utf16(list[0].szVersion.str()), version);
    EXPECT_EQ(Utf16(m_run.m_strSite.str()), L"서버");
    // Recorded as a program using the ANSI API on a Korean system records it: the same UTF-16 name and text.
    ASSERT_EQ(WriteProductValue(list[0].szFileName, list[0].szVersion), 0);
    std::wstring stored;
    EXPECT_TRUE(ReadHklmString(product::kProductKeyPathW, name.c_str(), stored));
    EXPECT_EQ(stored, version);
    Touch(std::wstring(kInstall) + L"\\" + name);
    EXPECT_FALSE(m_run.IsUpdateNeeded(list[0].szFileName, list[0].szVersion));
}

TEST_F(VersionInfoTest, IsUpdateNeededTable) {
    const struct {
        const char* name;
        const wchar_t* file;      // installed copy to create (nullptr: none)
        const char* entry;
        const char* version;
        const char* recorded;     // nullptr: no record
        bool due;
    } cases[] = {
        {"missing file, matching record", nullptr, "a.dll", "1.0", "1.0", true},
        {"present, equal record", L"a.dll", "a.dll", "1.0", "1.0", false},
        {"differs only in case", L"a.dll", "a.dll", "1.0a", "1.0A", false},
        {"differs in length", L"a.dll", "a.dll", "1.0", "1.0 ", true},
        {"differs in one character", L"a.dll", "a.dll", "1.0", "1.1", true},
        {"an older version is due too", L"a.dll", "a.dll", "0.9", "1.0", true},
        {"no record", L"a.dll", "a.dll", "1.0", nullptr, true},
        {"empty value and empty record", L"e.dll", "e.dll", "", "", false},
        {".GDB is looked up in gdb", L"gdb\\D.GDB", "D.GDB", "1", "1", false},
        {".gdb only in the install folder is due", L"x.gdb", "x.gdb", "1", "1", true},
        {".adb in adb", L"adb\\y.adb", "y.adb", "1", "1", false},
        {"hostile name never due", nullptr, "..\\evil.dll", "1", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.file) Touch(std::wstring(kInstall) + L"\\" + c.file);
        if (c.recorded) ASSERT_EQ(WriteProductValue(c.entry, c.recorded), 0);
        EXPECT_EQ(m_run.IsUpdateNeeded(c.entry, c.version) != FALSE, c.due);
    }
}

TEST_F(VersionInfoTest, RegistryFailuresCountAsDue) {
    Touch(std::wstring(kInstall) + L"\\a.dll");
    ASSERT_EQ(WriteProductValue("a.dll", "1.0"), 0);
    ASSERT_FALSE(m_run.IsUpdateNeeded("a.dll", "1.0"));
    {
        ReadOnlyProductKey readOnly;
        ASSERT_TRUE(readOnly.ok());
        EXPECT_TRUE(m_run.IsUpdateNeeded("a.dll", "1.0"));
    }
    ASSERT_EQ(WriteProductValue("a.dll", std::string(1024, 'v').c_str()), 0);  // does not fit 1024 with its end
    EXPECT_TRUE(m_run.IsUpdateNeeded("a.dll", std::string(1024, 'v').c_str()));
}

TEST_F(VersionInfoTest, AnEmptyInstallPathIsFilledFromTheRegistry) {
    Touch(std::wstring(kInstall) + L"\\a.dll");
    ASSERT_EQ(WriteProductValue("a.dll", "1.0"), 0);
    ASSERT_EQ(WriteProductValue("InstallPath", Utf8(kInstall).c_str()), 0);
    m_run.m_strInstallPath.Empty();
    EXPECT_FALSE(m_run.IsUpdateNeeded("a.dll", "1.0"));
    EXPECT_EQ(Utf16(m_run.m_strInstallPath.str()), kInstall);
}

}  // namespace
