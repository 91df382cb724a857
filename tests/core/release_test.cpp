#include "core/release.h"

#include <gtest/gtest.h>

namespace {

const std::string kSig88 = core::EncodeBase64(std::string(64, '\x5a'));
const std::string kKeyId = "0123456789abcdef";
const std::string kDigest = "sha256:" + std::string(64, 'a');

TEST(ReleaseFormat, TheSignatureLineIsTheLastLineAndNothingFollowsIt) {
    using S = core::SignatureStatus;
    const std::string body = "SITE=h\r\na.dll=1,0,0,0," + kDigest + "\r\n#serial 3\r\n";
    const std::string line = "#signature " + kKeyId + " " + kSig88;
    const struct {
        const char* name;
        std::string file;
        S status;
        std::size_t signedLength;
    } cases[] = {
        {"ended by CR LF", body + line + "\r\n", S::Present, body.size()},
        {"ended by the file's end", body + line, S::Present, body.size()},
        {"the only line", line, S::Present, 0},
        {"no signature line", body, S::Absent, 0},
        {"an empty line after it", body + line + "\r\n\r\n", S::Absent, 0},
        {"a line after it", body + line + "\r\nx.dll=1\r\n", S::Absent, 0},
        {"a byte after it", body + line + "\r\nx", S::Absent, 0},
        {"a blank after it", body + line + " ", S::Malformed, 0},
        {"a lone LF before it: not a line of its own", "SITE=h\n" + line, S::Absent, 0},
        {"upper-case KEYID", body + "#signature 0123456789ABCDEF " + kSig88, S::Malformed, 0},
        {"short KEYID", body + "#signature 0123456789abcde " + kSig88, S::Malformed, 0},
        {"two blanks", body + "#signature " + kKeyId + "  " + kSig88.substr(1), S::Malformed, 0},
        {"no blank between KEYID and SIG", body + "#signature " + kKeyId + "x" + kSig88, S::Malformed, 0},
        {"KEYID with a 'g'", body + "#signature 0123456789abcdeg " + kSig88, S::Malformed, 0},
        {"KEYID with a ':'", body + "#signature 0123456789abcde: " + kSig88, S::Malformed, 0},
        {"KEYID with a '/'", body + "#signature /123456789abcdef " + kSig88, S::Malformed, 0},
        {"KEYID with a '`'", body + "#signature `123456789abcdef " + kSig88, S::Malformed, 0},
        // 88 characters are 66 bytes when unpadded: two more than a signature holds.
        {"88 characters of unpadded base64", body + "#signature " + kKeyId + " " + core::EncodeBase64(std::string(66, 'x')),
         S::Malformed, 0},
        {"a signature of 63 bytes", body + "#signature " + kKeyId + " " + core::EncodeBase64(std::string(63, 'x')) + "=",
         S::Malformed, 0},
        {"not base64", body + "#signature " + kKeyId + " " + std::string(88, '!'), S::Malformed, 0},
        {"\"#signaturex\" is a comment", body + "#signaturex", S::Absent, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        core::SignatureLine sig;
        ASSERT_EQ(core::FindSignatureLine(c.file, sig), c.status);
        if (c.status != S::Present) continue;
        EXPECT_EQ(sig.signedLength, c.signedLength);
        EXPECT_EQ(sig.keyId, kKeyId);
        core::P256Signature expected;
        expected.fill(0x5a);
        EXPECT_EQ(sig.signature, expected);
    }
}

TEST(ReleaseFormat, ExactlyOneValidSerial) {
    const struct {
        std::string text;
        bool ok;
        std::uint64_t serial;
    } cases[] = {
        {"#serial 1\r\n", true, 1},
        {"a=1\r\n#serial 42\r\nb=2", true, 42},
        {"#serial 9223372036854775807", true, 9223372036854775807ull},
        {"#serial 9223372036854775808", false, 0},
        {"#serial 0", false, 0},
        {"#serial 007", false, 0},
        {"#serial -5", false, 0},
        {"#serial +5", false, 0},
        {"#serial 5 ", false, 0},
        {"#serial ", false, 0},
        {"#serial 1\r\n#serial 2\r\n", false, 0},  // two serial lines
        {"#serial 1\r\n#serial 1\r\n", false, 0},
        {"", false, 0},
        {"#serial5\r\n#serialize=1\r\n", false, 0},  // comments, not serial lines
        {" #serial 5", false, 0},
        {"#serial 5\n#serial 6", false, 0},  // one line (a lone LF ends nothing), and not a number
    };
    for (const auto& c : cases) {
        std::uint64_t serial = 0;
        EXPECT_EQ(core::FindSerial(c.text, serial), c.ok) << testing::PrintToString(c.text);
        if (c.ok) EXPECT_EQ(serial, c.serial);
    }
}

TEST(ReleaseFormat, DigestsAndEntries) {
    core::Sha256Digest d;
    EXPECT_TRUE(core::ParseDigestField("sha256:" + std::string(62, '0') + "0f", d));
    EXPECT_EQ(d[31], 0x0f);
    for (const std::string bad : {"sha256:" + std::string(63, 'a'), "sha256:" + std::string(65, 'a'),
                                  "sha256:" + std::string(64, 'A'), "SHA256:" + std::string(64, 'a'),
                                  "sha512:" + std::string(64, 'a'), std::string(64, 'a'), std::string("sha256:")}) {
        EXPECT_FALSE(core::ParseDigestField(bad, d)) << bad;
    }
    const struct {
        std::string text;
        bool ok;
    } lists[] = {
        {"SITE=h\r\n;c\r\na.dll=1,0,0,0," + kDigest + ",size:5\r\n#serial 1\r\n", true},
        {"a.dll=1,0,0,0," + kDigest + ",size:0\r\n", true},
        {"\r\n", true},
        {"a.dll=1,0,0,0," + kDigest + ",size:5\r\nb.dll=1,0,0,0\r\n", false},
        {"a.dll=1,0,0,0," + kDigest + "\r\n", false},                // the first form: no size
        {"a.dll=1,,0,0," + kDigest + ",size:5\r\n", false},          // the digest moved up a place
        {"a.dll=1,0,0,0,size:5," + kDigest + "\r\n", false},         // the two the wrong way round
        {"a.dll=1,0,0,0," + kDigest + ",size:05\r\n", false},
        {"a.dll=1,0,0,0," + kDigest + ",size:-5\r\n", false},
        {"a.dll=1,0,0,0," + kDigest + ",size:\r\n", false},
        {"a.dll=1,0,0,0," + kDigest + ",size:5 \r\n", false},
        {"a.dll=1,0,0,0," + kDigest + ",SIZE:5\r\n", false},
        {"a.dll=1,0,0,0," + kDigest + ",size:9007199254740992\r\n", true},   // 2^53
        {"a.dll=1,0,0,0," + kDigest + ",size:9007199254740993\r\n", false},
    };
    for (const auto& c : lists) EXPECT_EQ(core::EveryEntryHasDigestAndSize(c.text), c.ok) << testing::PrintToString(c.text);
    std::uint64_t size = 0;
    ASSERT_TRUE(core::ParseSizeField("size:40960", size));
    EXPECT_EQ(size, 40960u);
}

TEST(ReleaseFormat, ItsOwnPathOnceAndItsExpiryOnce) {
    const struct {
        std::string text;
        const char* path;  // nullptr: refused
    } files[] = {
        {"#file update/db/DBUpdate.ver\r\n", "update/db/DBUpdate.ver"},
        {"a=1\r\n#file marrowtide/MarrowtideWeb.ver", "marrowtide/MarrowtideWeb.ver"},
        {"", nullptr},
        {"#file \r\n", nullptr},
        {"#file /update/db/DBUpdate.ver\r\n", nullptr},  // no leading slash
        {"#file update/db/DBUpdate.ver \r\n", nullptr},
        {"#file a\r\n#file a\r\n", nullptr},             // twice
        {"#filename a\r\n", nullptr},
        {"#file a\tb\r\n", nullptr},
    };
    for (const auto& c : files) {
        std::string path;
        EXPECT_EQ(core::FindFileLine(c.text, path), c.path != nullptr) << testing::PrintToString(c.text);
        if (c.path) EXPECT_EQ(path, c.path);
    }
    const struct {
        const char* text;
        std::int64_t seconds;  // -1: refused
    } times[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2026-12-08T22:00:00Z", 1796767200},
        {"2024-02-29T23:59:59Z", 1709251199},
        {"2100-03-01T00:00:00Z", 4107542400},
        {"9999-12-31T23:59:59Z", 253402300799},
        {"2023-02-29T00:00:00Z", -1},  // no leap year
        {"2100-02-29T00:00:00Z", -1},
        {"2026-13-01T00:00:00Z", -1},
        {"2026-04-31T00:00:00Z", -1},
        {"2026-12-08T24:00:00Z", -1},
        {"2026-12-08T22:60:00Z", -1},
        {"2026-12-08T22:00:60Z", -1},
        {"2026-12-08 22:00:00Z", -1},
        {"2026-12-08T22:00:00", -1},
        {"2026-12-08T22:00:00+00:00", -1},
        {"1969-12-31T23:59:59Z", -1},
        {"2026-1-08T22:00:00Z", -1},
    };
    for (const auto& c : times) {
        std::int64_t seconds = -1;
        EXPECT_EQ(core::ParseUtcTime(c.text, seconds), c.seconds >= 0) << c.text;
        if (c.seconds >= 0) {
            EXPECT_EQ(seconds, c.seconds) << c.text;
            EXPECT_EQ(core::FormatUtcTime(c.seconds), c.text);
        }
    }
    std::int64_t expires = 0;
    EXPECT_TRUE(core::FindExpiry("#serial 1\r\n#expires 2027-01-07T22:00:00Z\r\n", expires));
    EXPECT_EQ(expires, 1796767200 + 30 * 86400);
    EXPECT_FALSE(core::FindExpiry("#expires 2027-01-07T22:00:00Z\r\n#expires 2027-01-07T22:00:00Z\r\n", expires));
    EXPECT_FALSE(core::FindExpiry("#expires 2027-01-07\r\n", expires));
    EXPECT_FALSE(core::FindExpiry("", expires));
}

// Keys ranked by their order in the build, oldest first: a leaked key's maximum serial ends nothing once
// the next key signs.
TEST(ReleaseFormat, KeyGenerations) {
    const std::uint64_t max = 9223372036854775807u;
    const struct {
        const char* name;
        int signer;
        std::uint64_t serial;
        core::KeptRelease kept;
        bool accepted, keep;
    } cases[] = {
        {"nothing kept: the oldest key", 0, 5, {0, 0}, true, true},
        {"nothing kept: the newer key", 1, 5, {0, 0}, true, true},
        {"same key, higher serial", 0, 11, {10, 0}, true, true},
        {"same key, the same release again", 0, 10, {10, 0}, true, false},
        {"same key, lower serial (rollback)", 0, 9, {10, 0}, false, false},
        {"a later key after a higher serial", 1, 3, {10, 0}, true, true},
        {"the earlier key again, higher serial", 0, 11, {3, 1}, false, false},
        {"a kept maximum serial, the later key with serial 1", 1, 1, {max, 0}, true, true},
        {"a kept KEYID not built in, the oldest key, lower serial", 0, 1, {50, core::kNotBuiltIn}, true, true},
    };
    for (const auto& c : cases) {
        bool keep = !c.keep;
        EXPECT_EQ(core::GenerationAccepts(c.signer, c.serial, c.kept, keep), c.accepted) << c.name;
        EXPECT_EQ(keep, c.keep) << c.name;
    }
}

TEST(ReleaseFormat, Base64AndKeyIds) {
    for (const std::string bytes : {std::string(), std::string("f"), std::string("fo"), std::string("foo"),
                                    std::string("foob"), std::string(64, '\xff'), std::string("\0\x01\x02", 3)}) {
        std::string back;
        ASSERT_TRUE(core::DecodeBase64(core::EncodeBase64(bytes), back));
        EXPECT_EQ(back, bytes);
    }
    EXPECT_EQ(core::EncodeBase64("foobar"), "Zm9vYmFy");
    std::string out;
    for (const char* bad : {"Zm9", "Zm9v=", "Z===", "Zm=v", "Zm9vYg", "Zm9vYh==", "Zm 9v", "Zh==", "Zm9="}) {
        EXPECT_FALSE(core::DecodeBase64(bad, out)) << bad;
    }
    core::Sha256Digest d{};
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 17);
    EXPECT_EQ(core::KeyIdFromPointDigest(d), "0011223344556677");
}

}  // namespace
