// The publishing tool on real folders: keys, publishing, refusals that change nothing, and what verify catches.
#include "release_tool.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include "core/release.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
void Write(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string Joined(const std::vector<release_tool::Problem>& problems) {
    std::string all;
    for (const auto& p : problems) all += release_tool::Describe(p) + "\n";
    return all;
}

class ReleaseToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("release-tool-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        m_release = m_dir / "release";
        Write(m_release / "update/db/a.gdb", "database a");
        Write(m_release / "update/db/\xBE\xF7.dat", "korean");  // "업.dat", as code page 949 names it on disk
        Write(m_release / "marrowtide/Marrowtide.exe", "program");
        Write(m_release / "marrowtide/Shell.dll", "shell");
        Describe("");
        std::string pem, id;
        std::vector<release_tool::Problem> problems;
        ASSERT_TRUE(release_tool::Keygen((m_dir / "key.pem").string(), pem, id, problems)) << Joined(problems);
        Write(m_dir / "key.pub", pem);
        m_keyId = id;
        ASSERT_TRUE(release_tool::Keygen((m_dir / "other.pem").string(), pem, id, problems));
        Write(m_dir / "other.pub", pem);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Describe(const std::string& extraDbLines) {
        Write(m_dir / "release.txt", "# sample\n[update/db/DBUpdate.ver]\nsite=127.0.0.2\na.gdb\n업.dat | open\n" + extraDbLines +
                                         "\n[marrowtide/MarrowtideWeb.ver]\nMarrowtide.exe | version=5.0\nShell.dll | register\n");
    }
    bool Publish(std::vector<release_tool::Problem>& problems, const char* key = "key.pem", int expiresDays = 30) {
        std::vector<std::string> written;
        return release_tool::Publish(m_release.string(), (m_dir / "release.txt").string(),
                                     key ? (m_dir / key).string() : "", written, problems, expiresDays);
    }
    std::vector<release_tool::Problem> Verify(const char* key = "key.pub", const std::string& previous = "") {
        std::vector<release_tool::Problem> problems;
        release_tool::Verify(m_release.string(), release_tool::StandardVersionFiles(),
                             key ? std::vector<std::string>{(m_dir / key).string()} : std::vector<std::string>{}, previous,
                             problems);
        return problems;
    }
    std::string DbVer() { return Read(m_release / "update/db/DBUpdate.ver"); }

    fs::path m_dir, m_release;
    std::string m_keyId;
};

TEST_F(ReleaseToolTest, KeysAreMadeOnceForTheOwnerOnly) {
    struct stat st;
    ASSERT_EQ(::stat((m_dir / "key.pem").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string before = Read(m_dir / "key.pem");
    std::string pem, id;
    std::vector<release_tool::Problem> problems;
    EXPECT_FALSE(release_tool::Keygen((m_dir / "key.pem").string(), pem, id, problems));
    EXPECT_EQ(Read(m_dir / "key.pem"), before) << "an existing key was replaced";
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].what.find("exists"), std::string::npos);
    EXPECT_EQ(m_keyId.size(), 16u);
}

TEST_F(ReleaseToolTest, PublishWritesSignedFilesInCodePage949AndVersionsFollowTheBytes) {
    std::vector<release_tool::Problem> problems;
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    EXPECT_TRUE(Verify().empty()) << Joined(Verify());
    const std::string first = DbVer();
    EXPECT_EQ(first.compare(0, 16, "SITE=127.0.0.2\r\n"), 0) << first;
    EXPECT_NE(first.find("\r\n\xBE\xF7.dat="), std::string::npos) << "the Korean name in code page 949";
    EXPECT_NE(first.find(",0,0,1,sha256:"), std::string::npos) << "the open flag and the digest";
    const std::size_t lineA = first.find("a.gdb=");
    EXPECT_EQ(first.substr(first.find("\r\n", lineA) - 8, 8), ",size:10") << "the size of \"database a\"";
    // Its own path and an expiry thirty days ahead (to the minute), signed with the rest.
    const std::size_t at = first.find("#serial 1\r\n#file update/db/DBUpdate.ver\r\n#expires ");
    ASSERT_NE(at, std::string::npos) << first;
    std::int64_t expires = 0;
    ASSERT_TRUE(core::FindExpiry(first, expires));
    EXPECT_NEAR(static_cast<double>(expires - std::time(nullptr)), 30 * 86400.0, 60.0);
    EXPECT_EQ(first.find("\r\n#signature " + m_keyId + " "), first.find("\r\n", first.find("#expires ")));
    EXPECT_NE(Read(m_release / "marrowtide/MarrowtideWeb.ver").find("#file marrowtide/MarrowtideWeb.ver\r\n"), std::string::npos);
    EXPECT_NE(Read(m_release / "marrowtide/MarrowtideWeb.ver").find("Marrowtide.exe=5.0,0,0,0,sha256:"), std::string::npos);
    EXPECT_NE(Read(m_release / "marrowtide/MarrowtideWeb.ver").find("Shell.dll="), std::string::npos);

    // Published again: the same versions, a higher serial; a changed file alone gets a new version.
    const std::string versionA = first.substr(first.find("a.gdb=") + 6, 8);
    Write(m_release / "update/db/\xBE\xF7.dat", "korean, changed");
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    const std::string second = DbVer();
    EXPECT_NE(second.find("a.gdb=" + versionA + ","), std::string::npos);
    EXPECT_EQ(second.find(first.substr(first.find("\xBE\xF7.dat="), 14)), std::string::npos) << "its version changed";
    EXPECT_NE(second.find("#serial 2\r\n"), std::string::npos);
    // Without a key: the same lines, no signature.
    ASSERT_TRUE(Publish(problems, nullptr));
    EXPECT_EQ(DbVer().find("#signature"), std::string::npos);
    EXPECT_NE(DbVer().find("#serial 3\r\n"), std::string::npos);
}

TEST_F(ReleaseToolTest, RefusalsSayWhatAndWhereAndChangeNothing) {
    std::vector<release_tool::Problem> problems;
    ASSERT_TRUE(Publish(problems));
    const std::string published = DbVer();
    // A key of another curve.
    EVP_PKEY* rsa = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
    FILE* f = std::fopen((m_dir / "rsa.pem").c_str(), "w");
    PEM_write_PrivateKey(f, rsa, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
    EVP_PKEY_free(rsa);
    const struct {
        const char* name;
        std::string extra;
        const char* key;
        std::string expected;  // in the one problem reported
    } cases[] = {
        {"a name the updater refuses", "CON.dat\n", "key.pem", "release.txt:6: \"CON.dat\": a name the updater refuses"},
        {"a name the system alters", "x.dat.\n", "key.pem", "release.txt:6: \"x.dat.\": a name the updater refuses"},
        {"a name not in code page 949", "\xC3\xA9t\xC3\xA9.dat\n", "key.pem", "release.txt:6: \"\xC3\xA9t\xC3\xA9.dat\": not representable in code page 949"},
        {"a missing file", "gone.dat\n", "key.pem", "release.txt:6: \"gone.dat\": no such file"},
        {"a file named twice", "A.GDB\n", "key.pem", "release.txt:6: \"A.GDB\" is named twice (first on line 4)"},
        {"a key that is not P-256", "", "rsa.pem", "rsa.pem: not a P-256 key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Describe(c.extra);
        problems.clear();
        EXPECT_FALSE(Publish(problems, c.key));
        ASSERT_EQ(problems.size(), 1u) << Joined(problems);
        EXPECT_NE(release_tool::Describe(problems[0]).find(c.expected), std::string::npos) << Joined(problems);
        EXPECT_EQ(DbVer(), published) << "changed on disk";
        EXPECT_FALSE(fs::exists(m_release / "update/db/DBUpdate.ver.publishing"));
    }
}

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
         "key.pub", "serial 1 is lower than the previous release's 2"},
        {"a missing file", [&] { fs::remove(m_release / "update/db/a.gdb"); }, "key.pub",
         "\"a.gdb\": the listed file is missing"},
        {"an unknown key", [] {}, "other.pub", "signed by the unknown key " + m_keyId},
        {"the DB file served as the program file",
         [&] { Write(m_release / "marrowtide/MarrowtideWeb.ver", Read(ver)); }, "key.pub",
         "MarrowtideWeb.ver: it names itself \"update/db/DBUpdate.ver\": the updater asking for marrowtide/MarrowtideWeb.ver refuses it"},
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

}  // namespace
