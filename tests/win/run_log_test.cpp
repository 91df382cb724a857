// The run's log on the prefix's file system: bounded, whole lines only, never a failed update for want of it.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>
#include <windows.h>

#include "support/run_log_lock.h"
#include "support/test_support.h"
#include "update/run_log.h"

using namespace testing_support;

namespace {

const wchar_t kFolder[] = L"C:\\log-test";

TEST(RunLog, StaysWithinItsBoundKeepingItsLastWholeLines) {
    // Whatever size the log starts at: none, or 2 MiB left by an older program (or copied in).
    for (const std::size_t before : {std::size_t{0}, std::size_t{2} << 20}) {
        SCOPED_TRACE(before);
        RemoveTree(kFolder);
        EnsureFolder(kFolder);
        std::string old;
        while (old.size() < before) old += "2026-01-01 00:00:00.000 info an earlier run's line\r\n";
        if (before) WriteAll(std::wstring(kFolder) + L"\\" + product::kLogFileNameW, old);
        {
            CRunLog log;
            ASSERT_TRUE(log.Open(Utf8(kFolder).c_str(), "9.8.7.6", "Windows test"));
            for (int i = 0; i < 6000; ++i) log.Note("line " + std::to_string(i) + std::string(40, '.'));  // about 400 KiB
        }
        const std::wstring path = std::wstring(kFolder) + L"\\" + product::kLogFileNameW;
        std::string all;
        ASSERT_TRUE(ReadFileBytes(path, all));
        EXPECT_LE(all.size(), CRunLog::kMaxBytes);
        EXPECT_GE(all.size(), CRunLog::kKeptBytes);
        const std::vector<std::string> lines = RunLogLines(kFolder);
        ASSERT_GT(lines.size(), 1000u);
        EXPECT_EQ(all.substr(all.size() - 2), "\r\n");  // the file ends with a whole line
        // From a line's start, with no line lost between the first kept and the last written.
        const int first = std::stoi(lines.front().substr(lines.front().find("line ") + 5));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            ASSERT_EQ(lines[i].find("line " + std::to_string(first + static_cast<int>(i)) + "."), kLogTextAt) << lines[i];
        }
        EXPECT_EQ(first + static_cast<int>(lines.size()) - 1, 5999);
        EXPECT_FALSE(Exists(path + L".~new"));
    }
}

// A writer ended by force inside a write leaves the lock held for good: the next line waits its bound and
// the log is given up; nobody waits on it again.
TEST(RunLog, ALockHeldForGoodCostsOneLinesWaitThenTheLogIsGivenUp) {
    RemoveTree(kFolder);
    EnsureFolder(kFolder);
    CRunLog log;
    ASSERT_TRUE(log.Open(Utf8(kFolder).c_str(), "1", "Windows"));
    HoldTheLogForGood(log);
    DWORD t0 = GetTickCount();
    log.Note("waits");
    EXPECT_GE(GetTickCount() - t0, CRunLog::kLineWaitMs - 20);
    t0 = GetTickCount();
    for (int i = 0; i < 10; ++i) log.Note("given up");
    EXPECT_LE(GetTickCount() - t0, 100u);
    const std::vector<std::string> lines = RunLogLines(kFolder);
    EXPECT_EQ(lines.size(), 1u);  // the first line only
}

TEST(RunLog, AFolderThatCannotBeWrittenMeansNoLog) {
    CRunLog log;
    EXPECT_FALSE(log.Open("C:\\no such folder", "1", "Windows"));
    log.RunStarted("C:\\no such folder");  // told to a log that is not there: nothing happens
    EXPECT_FALSE(Exists(L"C:\\no such folder"));
}

// A failing assertion shows Korean text as text.
TEST(RunLog, KoreanTextInAFailingAssertionIsReadable) {
    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(std::wstring(L"다운로드 파일"), std::wstring(L"다운로드 DB파일")),
                            "L\"다운로드 DB파일\"");
}

}  // namespace
