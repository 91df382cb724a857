#include "core/text.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(Utf8Utf16, RoundTripsKoreanAndAstralText) {
    const std::string samples[] = {"", "abc", "최신 버전으로 업데이트 중입니다.", "굴림", "\xF0\x9F\x98\x80 smile", "a\0b"};
    for (const std::string& s : samples) {
        SCOPED_TRACE(s);
        EXPECT_EQ(core::Utf16ToUtf8(core::Utf8ToUtf16(s)), s);
    }
    EXPECT_EQ(core::Utf8ToUtf16("\xEA\xB5\xB4\xEB\xA6\xBC"), std::u16string(u"\uAD74\uB9BC"));  // 굴림
    EXPECT_EQ(core::Utf8ToUtf16("\xF0\x9F\x98\x80"), std::u16string(u"\xD83D\xDE00"));
}

TEST(Utf8Utf16, IllFormedInputBecomesReplacementCharacters) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"\xFF", u"\xFFFD"},
        {"a\x80" "b", u"a\xFFFD" u"b"},
        {"\xC3", u"\xFFFD"},                       // truncated at the end
        {"\xE2\x82", u"\xFFFD\xFFFD"},              // truncated three-byte sequence: each byte replaced
        {"\xC0\xAF", u"\xFFFD\xFFFD"},              // overlong "/" is not a slash
        {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},    // encoded surrogate
        {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},  // above U+10FFFF
    };
    for (const Case& c : cases) {
        EXPECT_EQ(core::Utf8ToUtf16(c.utf8), c.utf16);
    }
    EXPECT_EQ(core::Utf16ToUtf8(u"\xD800" u"x"), "\xEF\xBF\xBDx");  // unpaired surrogate
    EXPECT_EQ(core::Utf16ToUtf8(u"x\xDC00"), "x\xEF\xBF\xBD");
    EXPECT_EQ(core::Utf16ToUtf8(u"\xD800\xD801"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // two high surrogates: no pair
}

TEST(AsciiFold, FoldsLatinLettersOnly) {
    EXPECT_EQ(core::AsciiLower("MarRtime.EXE"), "marrtime.exe");
    EXPECT_EQ(core::AsciiLower("굴림ABC"), "굴림abc");
    EXPECT_TRUE(core::EqualsNoCase("SITE", "site"));
    EXPECT_TRUE(core::EqualsNoCase("SuBdIr", "SUBDIR"));
    EXPECT_FALSE(core::EqualsNoCase("SITE ", "SITE"));
    EXPECT_FALSE(core::EqualsNoCase("1.0a", "1.0b"));
    // The fold's edges: A and Z fold, the bytes beside them ('@', '[') do not.
    EXPECT_EQ(core::AsciiLower("AZ@[az`{"), "az@[az`{");
    // Bytes of multibyte characters are never folded: "Ä" (C3 84) and "ä" (C3 A4) stay different.
    EXPECT_FALSE(core::EqualsNoCase("\xC3\x84", "\xC3\xA4"));
}

TEST(Blanks, TrimmedAtEitherEndOnly) {
    const struct {
        const char* text;
        const char* trimmed;
    } cases[] = {
        {" \t a b \t ", "a b"}, {"\ta\t", "a"}, {"a\tb", "a\tb"}, {" \t ", ""}, {"", ""}, {"\r a", "\r a"},
    };
    for (const auto& c : cases) EXPECT_EQ(core::TrimBlanks(c.text), c.trimmed) << c.text;
}

}  // namespace
