#include "core/version_info.h"

#include "core/release.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

std::vector<std::string> Lines(const std::string& data) {
    std::vector<std::string> out;
    core::ForEachLine(data.data(), data.size(), [&](const std::string& l) { out.push_back(l); });
    return out;
}

TEST(VersionInfoLines, OnlyCrLfEndsALineAndNulEndsTheText) {
    using V = std::vector<std::string>;
    const struct {
        std::string data;
        V lines;
    } cases[] = {
        {"", {}},
        {"\r\n", {""}},
        {"a\r\nb", {"a", "b"}},                    // the last line needs no CR LF
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\rc", {"a\nb\rc"}},                  // lone LF and CR end nothing
        {"SITE=h\nx=1\n", {"SITE=h\nx=1\n"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},  // the text ends at the first NUL
        {std::string("\0a\r\n", 4), {}},
        {"\r\r\n", {"\r"}},
        {"a\r", {"a\r"}},
        {"\n\r\n", {"\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.data));
        EXPECT_EQ(Lines(c.data), c.lines);
    }
}

TEST(VersionInfoLines, ClassifiedInTheirOrder) {
    using K = core::LineKind;
    const struct {
        const char* line;
        K kind;
        const char* key;
        const char* value;
    } cases[] = {
        {"", K::Ignored, "", ""},
        {";a.dll=1", K::Ignored, "", ""},
        {"#a.dll=1", K::Ignored, "", ""},
        {" ;a.dll=1", K::Entry, " ;a.dll", "1"},      // a blank first: not a comment
        {"noequals", K::Ignored, "", ""},
        {"=value", K::Ignored, "", ""},
        {"SITE=update.example", K::Site, "SITE", "update.example"},
        {"site=h", K::Site, "site", "h"},
        {"SiTe=", K::Site, "SiTe", ""},
        {"SITE =h", K::Entry, "SITE ", "h"},          // nothing is trimmed
        {" SITE=h", K::Entry, " SITE", "h"},
        {"SUBDIR=update/db/", K::SubDir, "SUBDIR", "update/db/"},
        {"subDir=/x", K::SubDir, "subDir", "/x"},
        {"a.dll=1.0,0,1,0", K::Entry, "a.dll", "1.0,0,1,0"},
        {"a=b=c", K::Entry, "a", "b=c"},
        {"a.dll=", K::Entry, "a.dll", ""},
        {"SITES=h", K::Entry, "SITES", "h"},
        // a control character in SITE or SUBDIR would end the request line: such a line is ignored
        {"SUBDIR=db\rGET /x", K::Ignored, "", ""},
        {"SITE=h\nHost: x", K::Ignored, "", ""},
        {"SITE=h\x7f", K::Ignored, "", ""},
        {"a.dll=1\t", K::Entry, "a.dll", "1\t"},
        {"#mirror mirror-2.example.com", K::Mirror, "", "mirror-2.example.com"},
        {"#mirror 127.0.0.9", K::Mirror, "", "127.0.0.9"},
        // anything but a bare host name is a comment: a scheme, a port, a path, a blank, nothing at all
        {"#mirror http://m.example", K::Ignored, "", ""},
        {"#mirror m.example:8080", K::Ignored, "", ""},
        {"#mirror m.example/db", K::Ignored, "", ""},
        {"#mirror m.example ", K::Ignored, "", ""},
        {"#mirror ", K::Ignored, "", ""},
        {"#MIRROR m.example", K::Ignored, "", ""},
        {"#mirrorm.example", K::Ignored, "", ""},
        {"#by-hash", K::ByHash, "", ""},
        {"#by-hash ", K::Ignored, "", ""},
        {"#BY-HASH", K::Ignored, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const core::ClassifiedLine got = core::ClassifyLine(c.line);
        EXPECT_EQ(got.kind, c.kind);
        EXPECT_EQ(got.key, c.key);
        EXPECT_EQ(got.value, c.value);
    }
}

TEST(VersionInfoLines, ByHashName) {
    core::Sha256Digest d{};
    d[0] = 0xab;
    d[31] = 0x01;
    EXPECT_EQ(core::ByHashName(d), "by-hash/SHA256/ab" + std::string(60, '0') + "01");
}

TEST(VersionInfoLines, HostLists) {
    EXPECT_EQ(core::SplitHostList("a.example;127.0.0.4"), (std::vector<std::string>{"a.example", "127.0.0.4"}));
    EXPECT_EQ(core::SplitHostList(""), std::vector<std::string>{});
    EXPECT_EQ(core::SplitHostList(";a;;b;"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(core::SplitHostList("http://a;b:80;c/d;e f;ok"), std::vector<std::string>{"ok"});
}

TEST(VersionInfoLines, BoundsOfAFile) {
    std::string entries;
    for (std::size_t i = 0; i < core::kMaxVersionInfoEntries; ++i) entries += "f" + std::to_string(i) + "=1\r\n";
    const std::string comments(core::kMaxVersionInfoBytes - 1, ';');
    const struct {
        const char* name;
        std::string data;
        bool within;
    } cases[] = {
        {"as many entries as allowed", entries + "SITE=h\r\n;x=1\r\n", true},
        {"one entry more", entries + "x=1", false},
        {"a mebibyte", comments + "\n", true},
        {"one byte more", comments + "\r\n", false},
    };
    for (const auto& c : cases) EXPECT_EQ(core::WithinVersionInfoBounds(c.data.data(), c.data.size()), c.within) << c.name;
}

TEST(VersionInfoLines, SubDirNormalisation) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"update/db/", "/update/db"}, {"/update/db", "/update/db"}, {"/", ""}, {"", ""},
                 {"a", "/a"},                  {"/a//", "/a/"},              {"//", "/"}, {"a/", "/a"}};
    for (const auto& c : cases) EXPECT_EQ(core::NormaliseSubDir(c.in), c.out) << c.in;
}

TEST(VersionInfoFields, TakenAsStrtokAndAtoiTakeThem) {
    const std::string v128(128, 'v');
    const struct {
        std::string value;
        std::string version;
        int reserved, reg, open;
    } cases[] = {
        {"1.0,0,1,1", "1.0", 0, 1, 1},
        {"1.0,,1,1", "1.0", 1, 1, 0},       // two commas: the third field moves into the reserved number
        {",1.0,2", "1.0", 2, 0, 0},         // a leading comma is skipped
        {"1.0,0,1,", "1.0", 0, 1, 0},
        {"", "", 0, 0, 0},
        {",,,", "", 0, 0, 0},
        {"v, 7x,-3,+4,9,9", "v", 7, -3, 4},  // blanks before a number, text after it, fields past the fifth
        {"v,abc,1", "v", 0, 1, 0},
        {"1.0 beta,0,0,0", "1.0 beta", 0, 0, 0},
        {v128 + ",1", std::string(127, 'v'), 1, 0, 0},
        {"버전 2,0,1,0", "버전 2", 0, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const core::EntryFields f = core::ParseEntryFields(c.value);
        EXPECT_EQ(f.version, c.version);
        EXPECT_EQ(f.reserved, c.reserved);
        EXPECT_EQ(f.registerFlag, c.reg);
        EXPECT_EQ(f.openFlag, c.open);
    }
    // The fifth and sixth fields, a signed release's digest and size, are kept as they stand; a seventh is ignored.
    EXPECT_EQ(core::ParseEntryFields("1,0,0,0,sha256:ab,x").digest, "sha256:ab");
    EXPECT_EQ(core::ParseEntryFields("1,0,0,0,sha256:ab,size:7,y").size, "size:7");
    EXPECT_EQ(core::ParseEntryFields("1,0,0,0,sha256:ab,,size:7").size, "size:7");
    EXPECT_EQ(core::ParseEntryFields("1,,0,0,sha256:ab").digest, "");  // an empty field moves it up
    EXPECT_EQ(core::ParseEntryFields("1,,0,0,sha256:ab,size:7").digest, "size:7");
}

TEST(VersionInfoFields, AtoiLike) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"12", 12},          {"  12", 12},         {"\t\n 3", 3},           {"-0", 0},
                 {"+5", 5},           {"12abc", 12},        {"abc", 0},              {"", 0},
                 {"- 5", 0},          {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"-2147483648", INT_MIN},
                 {"-99999999999", INT_MIN}, {"007", 7}};
    for (const auto& c : cases) EXPECT_EQ(core::AtoiLike(c.text), c.value) << c.text;
}

TEST(VersionInfoFields, KeepCharsNeverSplitsACharacter) {
    EXPECT_EQ(core::KeepChars(std::string(260, 'a'), 259), std::string(259, 'a'));
    EXPECT_EQ(core::KeepChars(std::string(259, 'a'), 259), std::string(259, 'a'));
    std::string korean;
    for (int i = 0; i < 300; ++i) korean += "가";
    EXPECT_EQ(core::KeepChars(korean, 259).size(), 259u * 3);
    EXPECT_EQ(core::KeepChars("ab\xF0\x9F\x98\x80", 3), "ab");  // a character beyond the BMP counts as two
    EXPECT_EQ(core::KeepChars("ab\xF0\x9F\x98\x80", 4), "ab\xF0\x9F\x98\x80");
    // Ill-formed bytes count one character each, as they decode (found by the fuzzer).
    EXPECT_EQ(core::KeepChars("\xE0;y", 1), "\xE0");
    EXPECT_EQ(core::KeepChars("\xE0;yz", 3), "\xE0;y");
}

TEST(VersionInfoNames, OnlyBareFileNames) {
    const char* good[] = {"a.dll", "Marrowtide.exe", " x.dll", "가나다.gdb", "a..b", "CONSOLE.txt", "COM10",
                          "con1", "nul_x", ".hidden", "a b.exe", "COM\xC2\xB4", "LPT\xC2\xB9x", "conin", "InstallPath.dll"};
    const char* bad[] = {"..\\evil.dll", "sub\\x.dll", "C:\\Windows\\x.dll", "\\\\host\\share\\x", "x:y", "a/b",
                         "../x", "CON", "con", "NUL.txt", "nul.tar.gz", "COM1", "lpt9.dat", "AUX", "PRN", "CON .txt",
                         "x\x01y", "tab\tname", "x\x7f", ".", "..", "",
                         // the system drops trailing dots and blanks: ".. " is the parent folder
                         ".. ", ". ", " ", "...", "x.", "x.dll ", "x.dll.",
                         // wildcards and the other characters no file name holds
                         "a*.dll", "a?.dll", "a<b", "a>b", "a|b", "a\"b",
                         // the remaining device names, superscript digits included
                         "COM0", "lpt0.txt", "COM\xC2\xB9", "com\xC2\xB2.dll", "LPT\xC2\xB3", "CONIN$", "conout$.txt"};
    for (const char* n : good) EXPECT_TRUE(core::IsBareFileName(n)) << n;
    for (const char* n : bad) EXPECT_FALSE(core::IsBareFileName(n)) << testing::PrintToString(std::string(n));
    // The product key's own values are never file entries, in any letter case.
    for (const char* n : {"InstallPath", "INSTALLPATH", "update_flag", "Update_Flag"}) {
        EXPECT_TRUE(core::IsBareFileName(n)) << n;
        EXPECT_FALSE(core::IsAcceptableEntryName(n)) << n;
    }
    EXPECT_TRUE(core::IsAcceptableEntryName("a.dll"));
    EXPECT_FALSE(core::IsAcceptableEntryName("CON"));
}

TEST(VersionInfoNames, DestinationByExtension) {
    using D = core::Destination;
    const struct {
        const char* name;
        D d;
    } cases[] = {{"a.gdb", D::GdbFolder}, {"A.GDB", D::GdbFolder}, {"a.Gdb", D::GdbFolder}, {"a.adb", D::AdbFolder},
                 {"x.y.ADB", D::AdbFolder}, {"a.gdb.bak", D::InstallFolder}, {"gdb", D::InstallFolder},
                 {"a.dll", D::InstallFolder}, {".gdb", D::GdbFolder}, {"a.gdb ", D::InstallFolder}};
    for (const auto& c : cases) EXPECT_EQ(core::DestinationByExtension(c.name), c.d) << c.name;
}

}  // namespace
