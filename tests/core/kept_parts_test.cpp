// Which kept parts go once a pass's list is read.
#include "core/kept_parts.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(KeptParts, OnlyWantedPairsStayAndTheyStayWithinTheirBound) {
    core::Sha256Digest a{}, b{};
    a[0] = 0xab;
    b[0] = 0xcd;
    const std::string pa = core::KeptPartName(a), ta = core::KeptTagName(a), pb = core::KeptPartName(b), tb = core::KeptTagName(b);
    EXPECT_EQ(pa, "ab" + std::string(62, '0') + ".part");
    EXPECT_EQ(tb, "cd" + std::string(62, '0') + ".tag");
    std::string upperA = pa;
    std::transform(upperA.begin(), upperA.end(), upperA.begin(), ::toupper);
    const struct {
        const char* name;
        std::vector<core::KeptFile> files;
        std::set<std::string> wanted;
        std::uint64_t bound;
        std::vector<std::string> removed;
    } cases[] = {
        {"both wanted, within the bound", {{pa, 10, 1}, {ta, 5, 1}, {pb, 20, 2}, {tb, 5, 2}}, {pa, pb}, 30, {}},
        {"a digest no longer listed", {{pa, 10, 1}, {ta, 5, 1}, {pb, 20, 2}, {tb, 5, 2}}, {pb}, 100, {pa, ta}},
        {"a part without its tag, a tag without its part", {{pa, 10, 1}, {tb, 5, 2}}, {pa, pb}, 100, {pa, tb}},
        {"anything else in the folder", {{"notes.txt", 1, 1}, {pa + ".tmp", 1, 1}, {pa, 10, 1}, {ta, 5, 1}}, {pa}, 100,
         {"notes.txt", pa + ".tmp"}},
        {"past the bound: the oldest goes first", {{pa, 10, 1}, {ta, 5, 1}, {pb, 20, 2}, {tb, 5, 2}}, {pa, pb}, 29, {pa, ta}},
        {"past the bound even alone", {{pa, 10, 3}, {ta, 5, 3}, {pb, 20, 2}, {tb, 5, 2}}, {pa, pb}, 9, {pb, tb, pa, ta}},
        {"a name in another case is the same part", {{upperA, 10, 1}, {ta, 5, 1}}, {pa}, 100, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(core::KeptFilesToRemove(c.files, c.wanted, c.bound), c.removed) << c.name;
}

}  // namespace
