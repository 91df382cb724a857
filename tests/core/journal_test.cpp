// The placement journal: what a start after a cut run (or a cut health window) reads back, and what it must
// not take for a journal.
#include "core/journal.h"
#include "core/install_stats.h"

#include <gtest/gtest.h>

namespace {

TEST(Journal, ReadBackAsWrittenAndNothingOfOneCutShort) {
    core::Journal placing;
    placing.entries = {
        {"C:\\Program Files\\Marrowtide\\gdb\\MarwMain.gdb", "C:\\Program Files\\Marrowtide\\BrinsoUpdator.previous\\1", "MarwMain.gdb",
         true, "e25dba5b"},
        {"C:\\Program Files\\Marrowtide\\엔진정보.dat", "", "엔진정보.dat", false, ""},  // new: no copy, no record
        {"C:\\x\\a.dll", "C:\\x\\p\\2", "a.dll", true, "1\t2%41\r\n"},                    // a version text of any bytes
        {"C:\\x\\b.dll", "C:\\x\\p\\3", "b.dll", true, ""},                              // an empty version recorded
    };
    placing.releases = {{"DBUpdate.ver", 20261210134900}};
    core::Journal placed = placing;
    placed.placed = true;
    placed.windows = 1;
    placed.releases.push_back({"Marrow\ttide 웹.ver", 0});  // any name; one without a serial
    core::Journal read;
    for (const core::Journal* written : {&placing, &placed}) {
        ASSERT_TRUE(core::ParseJournal(core::FormatJournal(*written), read));
        EXPECT_TRUE(read == *written);
    }
    ASSERT_TRUE(core::ParseJournal(core::FormatJournal({}), read));
    EXPECT_TRUE(read == core::Journal{});
    const std::string bytes = core::FormatJournal(placed);
    const struct {
        const char* name;
        std::string bytes;
    } refused[] = {
        {"cut before its last line", bytes.substr(0, bytes.size() - 4)},
        {"cut inside an entry", bytes.substr(0, bytes.find("MarwMain.gdb\t"))},
        {"nothing", ""},
        {"another format", "MWJOURNAL2\nend\n"},
        {"an entry of four fields", "MWJOURNAL1\na\tb\tc\t1\nend\n"},
        {"an entry without its file", "MWJOURNAL1\n\tb\tc\t1\tv\nend\n"},
        {"a recorded flag that is no flag", "MWJOURNAL1\na\tb\tc\t2\tv\nend\n"},
        {"a broken escape", "MWJOURNAL1\na\tb\tc\t1\tv%4\nend\n"},
        {"placed twice", "MWJOURNAL1\nplaced\t1\nplaced\t1\nend\n"},
        {"a window count that is no number", "MWJOURNAL1\nplaced\t01\nend\n"},
        {"a serial past 64 bits", "MWJOURNAL1\nrelease\tDBUpdate.ver\t18446744073709551616\nend\n"},
        {"a release without its file", "MWJOURNAL1\nrelease\t\t5\nend\n"},
        {"bytes after its end", bytes + "x"},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(core::ParseJournal(r.bytes, read)) << r.name;
        EXPECT_TRUE(read == core::Journal{}) << r.name;
    }
}

TEST(Journal, ReleasesAsTheLogAndTheReportNameThem) {
    EXPECT_EQ(core::ReleasesText({{"DBUpdate.ver", 5}}), "DBUpdate.ver serial 5");
    EXPECT_EQ(core::ReleasesText({{"DBUpdate.ver", 5}, {"MarrowtideWeb.ver", 0}}), "DBUpdate.ver serial 5 and MarrowtideWeb.ver (no serial)");
    const struct {
        std::string file;
        std::uint64_t serial;
        std::uint32_t exit;
        const char* target;
    } reports[] = {
        {"DBUpdate.ver", 20261210134900, 3, "/h?file=DBUpdate.ver&serial=20261210134900&exit=3"},
        {"a b&c=d%.ver", 9223372036854775807u, 0xC0000005u, "/h?file=a%20b%26c%3Dd%25.ver&serial=9223372036854775807&exit=3221225477"},
        {"\xc0\xa5~_-.ver", 0, 259, "/h?file=%C0%A5~_-.ver&serial=&exit=259"},  // code page 949 bytes; no serial
    };
    for (const auto& r : reports) EXPECT_EQ(core::HealthReportTarget("/h", r.file, r.serial, r.exit), r.target);
}

}  // namespace
