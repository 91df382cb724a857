// The placement journal: what a start after a cut run reads back, and what it must not take for a journal.
#include "core/journal.h"

#include <gtest/gtest.h>

namespace {

TEST(Journal, ReadBackAsWrittenAndNothingOfOneCutShort) {
    const std::vector<core::JournalEntry> entries = {
        {"C:\\Program Files\\Marrowtide\\gdb\\MarwMain.gdb", "C:\\Program Files\\Marrowtide\\BrinsoUpdator.previous\\1", "MarwMain.gdb",
         true, "e25dba5b"},
        {"C:\\Program Files\\Marrowtide\\엔진정보.dat", "", "엔진정보.dat", false, ""},  // new: no copy, no record
        {"C:\\x\\a.dll", "C:\\x\\p\\2", "a.dll", true, "1\t2%41\r\n"},                    // a version text of any bytes
        {"C:\\x\\b.dll", "C:\\x\\p\\3", "b.dll", true, ""},                              // an empty version recorded
    };
    const std::string bytes = core::FormatJournal(entries);
    std::vector<core::JournalEntry> read;
    ASSERT_TRUE(core::ParseJournal(bytes, read));
    EXPECT_EQ(read, entries);
    ASSERT_TRUE(core::ParseJournal(core::FormatJournal({}), read));
    EXPECT_TRUE(read.empty());
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
        {"bytes after its end", bytes + "x"},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(core::ParseJournal(r.bytes, read)) << r.name;
        EXPECT_TRUE(read.empty()) << r.name;
    }
}

}  // namespace
