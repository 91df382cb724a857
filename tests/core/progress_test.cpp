#include "core/progress.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(DownloadPercent, TruncatesAndPassesValuesAboveHundredOn) {
    struct Case {
        double count, total;
        int percent;
    };
    const Case cases[] = {
        {0, 100, 0},       {4096, 10000, 40},    {8192, 10000, 81},  {10000, 10000, 100},
        {1, 3, 33},        {2, 3, 66},           {29, 100, 29},      {4095, 4096, 99},
        {8192, 4096, 200},  // total taken from the bytes available at first: later positions pass 100
        {4096, 0, 0},      // no total known: stays at 0 until the final 100
        {0, 0, 0},
        {4294967295.0, 1, INT_MAX},  // never overflows the integer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << "/" << c.total);
        EXPECT_EQ(core::DownloadPercent(c.count, c.total), c.percent);
    }
}

}  // namespace
