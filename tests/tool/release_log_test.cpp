// The release folder's log as publish grows it, audit reads it and a witness cosigns it.
#include "log.h"
#include "release_tool_fixture.h"

namespace {

using namespace release_tool_testing;

class ReleaseLogTest : public ReleaseToolTest {
protected:
    std::vector<std::string> Audit(std::vector<release_tool::Problem>& problems, const char* key = "key.pub") {
        std::vector<std::string> lines;
        release_tool::Audit(m_release.string(), {(m_dir / key).string()}, lines, problems);
        return lines;
    }
    bool Witness(std::string& said, std::vector<release_tool::Problem>& problems) {
        release_tool::WitnessOptions o{(m_dir / "other.pem").string(), "witness.example/w", (m_dir / "key.pub").string(),
                                       (m_dir / "witness-state").string()};
        problems.clear();
        return release_tool::Witness(m_release.string(), o, said, problems);
    }
    fs::path Log(const char* inLog) { return m_release / "log" / inLog; }
};

}  // namespace

TEST_F(ReleaseLogTest, PublishAppendsEachSignedFileAndAuditListsThem) {
    std::vector<release_tool::Problem> problems;
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    // Two publishes of both files, each file a new entry where its "#log-index" says.
    std::vector<std::string> lines = Audit(problems);
    ASSERT_TRUE(problems.empty()) << Joined(problems);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "2 update/db/DBUpdate.ver " + core::HexLower(release_tool::Sha256(DbVer()).data(), 32));
    EXPECT_EQ(lines[4].substr(0, lines[4].find(" root")), std::string("log ") + release_tool::DefaultLogOrigin() + ": 4 entries,");
    EXPECT_NE(DbVer().find("#log-index 2\r\n#signature "), std::string::npos);
    EXPECT_EQ(Read(Log("tile/0/000.p/4")).size(), 128u);
    EXPECT_TRUE(fs::exists(Log("tile/0/000.p/2"))) << "a tile once written stays: a cache may hold it";

    // What audit refuses, each from a copy of the folder as published.
    const fs::path published = m_dir / "published";
    fs::copy(m_release, published, fs::copy_options::recursive);
    struct Row {
        const char* what;
        std::function<void()> change;
        std::string refusal;
    } const rows[] = {
        {"a damaged tile", [&] { Write(Log("tile/0/000.p/4"), std::string(128, 'x')); }, "not the hashes of the log's entries"},
        {"an entry changed", [&] { Write(Log("tile/entries/000.p/4"), Read(Log("tile/entries/000.p/4")).replace(4, 6, "marrow")); },
         "not the hashes of the log's entries"},
        {"a checkpoint signed by another key", [&] {}, "not signed by any of the keys given"},
        {"a list that is not where it says", [&] { Write(m_release / "update/db/DBUpdate.ver", DbVer() + "\r\n"); }, "is not in the log where"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        fs::remove_all(m_release);
        fs::copy(published, m_release, fs::copy_options::recursive);
        r.change();
        problems.clear();
        Audit(problems, std::string(r.what).find("another key") != std::string::npos ? "other.pub" : "key.pub");
        EXPECT_NE(Joined(problems).find(r.refusal), std::string::npos) << Joined(problems);
    }
}

TEST_F(ReleaseLogTest, PublishNeverSignsALogThatDoesNotContinueTheLastOneItSigned) {
    std::vector<release_tool::Problem> problems;
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    const fs::path old = m_dir / "old";
    fs::copy(m_release, old, fs::copy_options::recursive);
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    // The folder restored from an older copy: publishing again would fork the log every updater saw.
    fs::remove_all(m_release / "log");
    fs::copy(old / "log", m_release / "log", fs::copy_options::recursive);
    EXPECT_FALSE(Publish(problems));
    EXPECT_NE(Joined(problems).find("does not continue it: restore the folder's log/"), std::string::npos) << Joined(problems);
    // Nor one under another origin than the folder's log has.
    problems.clear();
    release_tool::PublishOptions options;
    options.privatePath = (m_dir / "other.pem").string();
    options.rankedKeys = {(m_dir / "key.pub").string(), (m_dir / "other.pub").string()};
    options.logOrigin = "elsewhere.example/log";
    EXPECT_FALSE(Publish(problems, options));
    EXPECT_NE(Joined(problems).find("not elsewhere.example/log (--log-origin)"), std::string::npos) << Joined(problems);
}

TEST_F(ReleaseLogTest, AWitnessCosignsOnlyALogThatGrewFromWhatItCosigned) {
    std::vector<release_tool::Problem> problems;
    std::string said;
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    ASSERT_TRUE(Witness(said, problems)) << Joined(problems);
    EXPECT_EQ(said, std::string("cosigned ") + release_tool::DefaultLogOrigin() + " at 2 entries as witness.example/w");
    const fs::path once = m_dir / "once";
    fs::copy(m_release, once, fs::copy_options::recursive);
    ASSERT_TRUE(Witness(said, problems)) << "the same checkpoint again: " << Joined(problems);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Publish(problems)) << Joined(problems);
    ASSERT_TRUE(Witness(said, problems)) << Joined(problems);
    std::vector<std::string> lines = Audit(problems);
    EXPECT_NE(lines.back().find("signed by " + std::string(release_tool::DefaultLogOrigin()) + " witness.example/w"), std::string::npos)
        << lines.back();
    // The log shown at 8 entries, then one of 10 that does not grow from it: a fork.
    const std::string state = Read(m_dir / "witness-state");
    fs::remove_all(m_release);
    fs::copy(once, m_release, fs::copy_options::recursive);
    fs::remove(m_dir / "key.pem.log-checkpoint");
    Write(m_release / "update/db/a.gdb", "database b");
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Publish(problems)) << Joined(problems);
    EXPECT_FALSE(Witness(said, problems));
    EXPECT_NE(Joined(problems).find("not consistent with the checkpoint last cosigned (8 entries)"), std::string::npos) << Joined(problems);
    EXPECT_EQ(Read(m_dir / "witness-state"), state);
}
