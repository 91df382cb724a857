// What verify catches in a release folder, and the by-hash names publish keeps and removes from one
// release to the next.
#include "release_tool_fixture.h"

namespace {

using namespace release_tool_testing;

TEST_F(ReleaseToolTest, VerifyCatchesWhatTheUpdaterWouldRefuse) {
    const fs::path previous = m_dir / "previous", ver = m_release / "update/db/DBUpdate.ver";
    const fs::path previousVer = previous / "update/db/DBUpdate.ver";
    const struct {
        const char* name;
        std::function<void()> change;
        const char* key;
        std::string expected;
    } cases[] = {
        {"nothing changed", [] {}, "key.pub", ""},
        {"one changed byte in a listed file", [&] { Write(m_release / "update/db/a.gdb", "database b"); }, "key.pub",
         "\"a.gdb\": the file's bytes differ from its digest"},
        {"one changed byte in the version-info file",
         [&] {
             std::string t = Read(ver);
             t[t.find("127.0.0.2")] = '8';
             Write(ver, t);
         },
         "key.pub", "the signature does not verify"},
        {"a lower serial than the previous file",
         [&] {
             const std::string newer = Read(ver);
             Write(ver, Read(previousVer));
             Write(previousVer, newer);
         },
         "key.pub", "is lower than the previous release's"},
        {"a missing file", [&] { fs::remove(m_release / "update/db/a.gdb"); }, "key.pub",
         "\"a.gdb\": the listed file is missing"},
        {"an unknown key", [] {}, "other.pub", "signed by the unknown key " + m_keyId},
        // (signed again: the updater trusts the signature, and still refuses the file its size does not fit)
        {"a signed size other than the file's", [&] { Write(ver, Resigned(Replaced(Read(ver), "size:10", "size:11"))); }, "key.pub",
         "\"a.gdb\": the file's bytes differ from its digest or size"},
        {"the previous release unchanged (the same serial)", [&] {
             for (const char* v : {"update/db/DBUpdate.ver", "marrowtide/MarrowtideWeb.ver"}) Write(m_release / v, Read(previous / v));
         },
         "key.pub", ""},
        {"an unsigned file", [&] { Write(ver, Read(ver).substr(0, Read(ver).find("#signature "))); }, "key.pub",
         "DBUpdate.ver:8: no signature line at the end"},
        {"a malformed signature line", [&] { Write(ver, Read(ver).substr(0, Read(ver).find("#signature ")) + "#signature x y\r\n"); },
         "key.pub", "DBUpdate.ver:9: a malformed signature line"},
        {"no serial line", [&] { Write(ver, Replaced(Read(ver), "#serial ", "#serials ")); }, "key.pub",
         "not exactly one valid \"#serial N\" line"},
        {"an entry without a digest and size", [&] { Write(ver, "z.dat=1\r\n" + Read(ver)); }, "key.pub",
         "DBUpdate.ver:1: \"z.dat\": no digest (sha256:...) and size (size:N)"},
        {"a name the updater refuses", [&] { Write(ver, "CON.dat=1,0,0,0\r\n" + Read(ver)); }, "key.pub",
         "DBUpdate.ver:1: \"CON.dat\": a name the updater refuses"},
        {"a SITE with a scheme", [&] { Write(ver, Replaced(Read(ver), "SITE=127.0.0.2", "SITE=http://127.0.0.2/")); }, "key.pub",
         "DBUpdate.ver:1: a SITE that is no host name alone"},
        {"a SUBDIR out of the release folder", [&] { Write(ver, "SUBDIR=../secret\r\n" + Read(ver)); }, "key.pub",
         "DBUpdate.ver:1: a SUBDIR outside the release folder"},
        {"more entries than the updater reads",
         [&] {
             std::string t = Read(ver);
             for (int i = 0; i < 1001; ++i) t.insert(0, "f" + std::to_string(i) + ".dat=1\r\n");
             Write(ver, t);
         },
         "key.pub", "more than 1000 files: the updater cannot read it"},
        {"a listed file that is a link out of the release folder",
         [&] {
             fs::remove(m_release / "update/db/a.gdb");
             Write(m_dir / "outside.gdb", "database a");
             fs::create_symlink(m_dir / "outside.gdb", m_release / "update/db/a.gdb");
         },
         "key.pub", "\"a.gdb\": a link that leads out of the release folder"},
        {"the DB file served as the program file",
         [&] { Write(m_release / "marrowtide/MarrowtideWeb.ver", Read(ver)); }, "key.pub",
         "MarrowtideWeb.ver: it names itself \"update/db/DBUpdate.ver\": the updater asking for marrowtide/MarrowtideWeb.ver refuses it"},
        {"a gzip copy of older bytes beside the file", [&] { Write(m_release / "update/db/a.gdb.gz", Gzipped("database 0")); }, "key.pub",
         "\"a.gdb\": a.gdb.gz is no gzip copy of the file"},
        {"a damaged block map", [&] { Write(m_release / "update/db/a.gdb.blocks", "MWBLOCK1"); }, "key.pub",
         "\"a.gdb\": a.gdb.blocks is not the file's block map"},
        {"a missing by-hash name", [&] { fs::remove(m_release / "update/db" / ByHashOf("database a")); }, "key.pub",
         "\"a.gdb\": " + ByHashOf("database a") + " is missing"},
        {"a by-hash name whose gzip copy is of older bytes",
         [&] {
             Write(m_release / "update/db/a.gdb.gz", Gzipped("database a"));
             Write(m_release / "update/db" / (ByHashOf("database a") + ".gz"), Gzipped("database 0"));
         },
         "key.pub", "\"a.gdb\": " + ByHashOf("database a") + ".gz is no gzip copy of the file"},
        {"an expired release",
         [&] {
             std::vector<release_tool::Problem> p;
             EXPECT_TRUE(Publish(p, "key.pem", 0)) << Joined(p);
         },
         "key.pub", "DBUpdate.ver: expired at "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A release published twice: the previous one (serial 1) kept aside, the current one has serial 2.
        fs::remove_all(previous);
        fs::remove(ver);
        fs::remove(m_release / "marrowtide/MarrowtideWeb.ver");
        fs::remove(m_release / "update/db/a.gdb");  // a link an earlier row made, not what it leads to
        Write(m_release / "update/db/a.gdb", "database a");
        std::vector<release_tool::Problem> problems;
        ASSERT_TRUE(Publish(problems)) << Joined(problems);
        fs::copy(m_release, previous, fs::copy_options::recursive);
        ASSERT_TRUE(Publish(problems)) << Joined(problems);
        c.change();
        const std::string found = Joined(Verify(c.key, previous.string()));
        if (c.expected.empty()) EXPECT_EQ(found, "") << found;
        else EXPECT_NE(found.find(c.expected), std::string::npos) << found;
    }
}

// Two releases through caches: every listed file also under its by-hash name, one inode with it where the
// file system allows, with its copies beside it; the names of the release replaced stay, older ones go;
// copies whose bytes stay the same are not written again (a new time is a new ETag for every cache).
TEST_F(ReleaseToolTest, ByHashNamesStayForTheReleaseReplacedAndGoAfter) {
    std::string large((1 << 20) + 5, '\0'), text;
    std::mt19937 random(3);
    for (char& c : large) c = static_cast<char>(random() & 0xFF);
    for (int i = 0; i < 2000; ++i) text += "record " + std::to_string(i % 89) + "\n";
    const fs::path db = m_release / "update/db";
    const auto inode = [](const fs::path& p) {
        struct stat st{};
        return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const auto release = [&](const std::string& bytes) {  // text.dat replaced as a vendor does, by a new file
        fs::remove(db / "text.dat");
        Write(db / "text.dat", bytes);
        std::vector<release_tool::Problem> problems;
        std::vector<std::string> removed;
        EXPECT_TRUE(Publish(problems, "key.pem", 30, &removed)) << Joined(problems);
        EXPECT_TRUE(Verify().empty()) << Joined(Verify());
        return removed.size();
    };
    Write(db / "large.dat", large);
    Describe("text.dat\nlarge.dat\n");
    const std::string one = text + "one", two = text + "two", three = text + "three";
    EXPECT_EQ(release(one), 0u);
    EXPECT_EQ(inode(db / ByHashOf(large)), inode(db / "large.dat")) << "a hard link";
    EXPECT_EQ(Read(db / (ByHashOf(large) + ".blocks")), release_tool::BlockMap(large));
    EXPECT_EQ(Read(db / (ByHashOf(one) + ".gz")), Gzipped(one));
    const auto mapBefore = inode(db / "large.dat.blocks");
    EXPECT_EQ(release(two), 0u) << "the replaced release's names stay";
    EXPECT_EQ(inode(db / "large.dat.blocks"), mapBefore) << "an unchanged map written again";
    EXPECT_EQ(Read(db / ByHashOf(one)) + Read(db / ByHashOf(two)), one + two);
    // The third release removes the first one's names (the file and its .gz), and nothing else.
    EXPECT_EQ(release(three), 2u);
    EXPECT_FALSE(fs::exists(db / ByHashOf(one)));
    for (const std::string& kept : {ByHashOf(two), ByHashOf(three), ByHashOf(large), ByHashOf("database a")}) {
        EXPECT_TRUE(fs::exists(db / kept)) << kept;
    }
    // Written over in place, the file changed its replaced release's by-hash name too: that name goes.
    Write(db / "text.dat", "four");
    std::vector<release_tool::Problem> problems;
    std::vector<std::string> removed;
    EXPECT_TRUE(Publish(problems, "key.pem", 30, &removed)) << Joined(problems);
    EXPECT_EQ(removed.size(), 3u) << "the second release's two names, and the third's file";
    EXPECT_FALSE(fs::exists(db / ByHashOf(three)));
    EXPECT_TRUE(fs::exists(db / (ByHashOf(three) + ".gz")) && fs::exists(db / ByHashOf("four")));
}

// A key roll as the vendor does it: the updater's keys given in their rank order, and every step that
// would strand a machine refused by publish and by verify alike.
TEST_F(ReleaseToolTest, KeyRollsAreCheckedAsTheUpdaterRanksTheKeys) {
    std::vector<release_tool::Problem> problems;
    std::string pem, id;
    ASSERT_TRUE(release_tool::Keygen((m_dir / "third.pem").string(), pem, id, problems));
    ASSERT_TRUE(Publish(problems)) << Joined(problems);  // the live release, signed with key
    const fs::path live = m_dir / "live";
    fs::copy(m_release, live, fs::copy_options::recursive);
    const std::string program = Read(m_release / "marrowtide/MarrowtideWeb.ver");
    const std::string key = (m_dir / "key.pub").string(), other = (m_dir / "other.pub").string();
    const auto publishWith = [&](const char* privateKey, std::vector<std::string> ranked) {
        // The DB section alone: the program file is signed again as it stands.
        Write(m_dir / "release.txt", "[update/db/DBUpdate.ver]\nsite=127.0.0.2\na.gdb\n");
        release_tool::PublishOptions options;
        options.privatePath = (m_dir / privateKey).string();
        options.rankedKeys = std::move(ranked);
        problems.clear();
        return Publish(problems, options);
    };
    const struct {
        const char* name;
        const char* privateKey;
        std::vector<std::string> ranked;
        std::string refusal;  // "": published
    } steps[] = {
        {"another key without the updater's order", "other.pem", {}, "give the updater's public keys in their order (--rank PUBLIC.pem"},
        {"a key none of the updater's", "third.pem", {key, other}, "the signing key " + id + " is none of the keys given with --rank"},
        {"the next key", "other.pem", {key, other}, ""},
        {"back to the older key", "key.pem", {key, other}, "ranks before"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_EQ(publishWith(step.privateKey, step.ranked), step.refusal.empty()) << Joined(problems);
        if (!step.refusal.empty()) EXPECT_NE(Joined(problems).find(step.refusal), std::string::npos) << Joined(problems);
    }
    // Both files now carry the next key; the program file's signed bytes are those it had.
    const std::string resigned = Read(m_release / "marrowtide/MarrowtideWeb.ver");
    core::SignatureLine before, after;
    ASSERT_EQ(core::FindSignatureLine(program, before), core::SignatureStatus::Present);
    ASSERT_EQ(core::FindSignatureLine(resigned, after), core::SignatureStatus::Present);
    // ... but for its place in the log: signed again, it is another entry.
    const auto withoutIndex = [](std::string text) { return text.erase(text.find("#log-index ")); };
    EXPECT_EQ(withoutIndex(resigned.substr(0, after.signedLength)), withoutIndex(program.substr(0, before.signedLength)));
    std::uint64_t oldIndex = 0, newIndex = 0;
    ASSERT_TRUE(core::FindLogIndex(program, oldIndex) && core::FindLogIndex(resigned, newIndex));
    EXPECT_GT(newIndex, oldIndex);
    EXPECT_NE(after.keyId, before.keyId);
    EXPECT_EQ(core::FindSignatureLine(DbVer(), before), core::SignatureStatus::Present);
    EXPECT_EQ(before.keyId, after.keyId) << "one key signs both files";
    // verify takes the keys in the updater's order: the same release holds in one order, not in the other.
    problems.clear();
    EXPECT_TRUE(release_tool::Verify(m_release.string(), release_tool::StandardVersionFiles(), {key, other}, live.string(), problems))
        << Joined(problems);
    problems.clear();
    EXPECT_FALSE(release_tool::Verify(m_release.string(), release_tool::StandardVersionFiles(), {other, key}, live.string(), problems));
    EXPECT_NE(Joined(problems).find("a key ranked before " + m_keyId + ", which signed the previous release"), std::string::npos)
        << Joined(problems);
}

}  // namespace
