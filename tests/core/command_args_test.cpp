#include "core/command_args.h"

#include <gtest/gtest.h>

namespace {

struct ArgsCase {
    std::vector<std::string> args;
    std::vector<core::CommandArg> expected;
};

bool operator==(const core::CommandArg& a, const core::CommandArg& b) {
    return a.param == b.param && a.isFlag == b.isFlag && a.isLast == b.isLast;
}

TEST(ClassifyArgs, SwitchMarksAreRemovedAndTheLastIsFlagged) {
    const ArgsCase cases[] = {
        {{}, {}},
        {{"/x"}, {{"x", true, true}}},
        {{"-x", "v"}, {{"x", true, false}, {"v", false, true}}},
        {{"/x", "/y", "v"}, {{"x", true, false}, {"y", true, false}, {"v", false, true}}},
        {{"word"}, {{"word", false, true}}},
        {{"/"}, {{"", true, true}}},                    // a lone mark is a switch with an empty name
        {{"//x"}, {{"/x", true, true}}},                // only the first mark goes
        {{"a-b", "x/y"}, {{"a-b", false, false}, {"x/y", false, true}}},  // marks count only in front
        {{""}, {{"", false, true}}},
        {{"/업데이트", "값"}, {{"업데이트", true, false}, {"값", false, true}}},
    };
    for (const ArgsCase& c : cases) {
        const auto got = core::ClassifyArgs(c.args);
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(got[i] == c.expected[i]) << got[i].param << " " << got[i].isFlag << " " << got[i].isLast;
        }
    }
}

}  // namespace
