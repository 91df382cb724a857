#include "core/platform.h"

#include <gtest/gtest.h>

namespace {

TEST(ClassifyPlatform, Table) {
    struct Case {
        unsigned long id, major, minor;
        int expected;
    };
    const Case cases[] = {
        {0, 0, 0, core::OS_WIN32S},  // a zero-filled record
        {0, 3, 11, core::OS_WIN32S},
        {1, 4, 0, core::OS_WIN95},   {1, 3, 95, core::OS_WIN95}, {1, 4, 10, core::OS_WIN98},
        {1, 4, 90, core::OS_WIN98},  {1, 5, 0, core::OS_WIN98},
        {2, 5, 1, core::OS_WINNT},   {2, 6, 1, core::OS_WINNT},  {2, 10, 0, core::OS_WINNT},
        {3, 10, 0, core::OS_UNKNOWN}, {99, 4, 10, core::OS_UNKNOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " " << c.major << "." << c.minor);
        EXPECT_EQ(core::ClassifyPlatform(c.id, c.major, c.minor), c.expected);
    }
    EXPECT_TRUE(core::IsNineXFamily(core::OS_WIN98));
    EXPECT_TRUE(core::IsNineXFamily(core::OS_WIN95));
    EXPECT_TRUE(core::IsNineXFamily(core::OS_WIN32S));
    EXPECT_FALSE(core::IsNineXFamily(core::OS_WINNT));
    EXPECT_FALSE(core::IsNineXFamily(core::OS_UNKNOWN));
}

TEST(ProcessMatch, NameOnNtWholePathOn9x) {
    struct Case {
        const char* path;
        bool nineX;
        const char* image;
        bool matches;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Marrowtide\\Tessvane.exe", false, "tessvane.exe", true},
        {"C:\\Program Files\\Marrowtide\\Tessvane.exe", false, "TESSVANE.EXE", true},
        {"C:\\Program Files\\Marrowtide\\Tessvane.exe", false, "Tessvane.exe ", false},
        {"C:\\Program Files\\Marrowtide\\Tessvane.exe", false, "Quillmere.exe", false},
        {"\\Marrowtide.exe", false, "Marrowtide.exe", true},  // empty install folder: the name still matches
        {"Marrowtide.exe", false, "marrowtide.exe", true},    // no backslash: the whole text
        {"C:\\Program Files\\Marrowtide\\Tessvane.exe", true, "tessvane.exe", false},
        {"C:\\Program Files\\Marrowtide\\Tessvane.exe", true, "c:\\program files\\marrowtide\\tessvane.exe", true},
        {"C:\\Program Files\\Marrowtide\\Tessvane.exe", true, "C:\\Other\\Tessvane.exe", false},
        {"C:\\PROGRA~1\\Marrowtide\\Tessvane.exe", true, "C:\\Program Files\\Marrowtide\\Tessvane.exe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path << " / " << c.image << " nineX=" << c.nineX);
        EXPECT_EQ(core::ProcessNameMatches(core::ProcessMatchTarget(c.path, c.nineX), c.image), c.matches);
    }
}

TEST(JoinPath, NeverFormsAPathLongerThanTheLimit) {
    std::string out = "untouched";
    const std::string folder247(247, 'a');  // + "\" + 11 characters = 259
    EXPECT_TRUE(core::JoinPath(folder247, "Tessvane.ex", out));
    EXPECT_EQ(out.size(), 259u);
    out = "untouched";
    EXPECT_FALSE(core::JoinPath(folder247, "Tessvane.exe", out));  // 260 would not fit with the terminator
    EXPECT_EQ(out, "untouched");
    // Characters, not bytes: 200 Korean syllables are 600 UTF-8 bytes but 200 characters.
    std::string korean;
    for (int i = 0; i < 200; ++i) korean += "\xEA\xB0\x80";  // 가
    EXPECT_TRUE(core::JoinPath(korean, "MarRtime.exe", out));
    EXPECT_EQ(out, korean + "\\MarRtime.exe");
    EXPECT_TRUE(core::JoinPath("", "Marrowtide.exe", out));
    EXPECT_EQ(out, "\\Marrowtide.exe");
}

}  // namespace
