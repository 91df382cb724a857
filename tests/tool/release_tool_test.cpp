// The publishing tool on real folders: keys, publishing, refusals that change nothing, serials and signing.
#include "release_tool_fixture.h"

namespace {

using namespace release_tool_testing;

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
    const std::size_t at = first.find("\r\n#file update/db/DBUpdate.ver\r\n#expires ");
    ASSERT_NE(at, std::string::npos) << first;
    const std::uint64_t serial1 = Serial(first);
    EXPECT_GE(serial1, 20261209000000u) << "a first release is numbered by its publication time";
    std::int64_t expires = 0;
    ASSERT_TRUE(core::FindExpiry(first, expires));
    EXPECT_NEAR(static_cast<double>(expires - std::time(nullptr)), 30 * 86400.0, 60.0);
    EXPECT_EQ(first.find("\r\n#by-hash\r\n#log-index 0\r\n#signature " + m_keyId + " "), first.find("\r\n", first.find("#expires ")));
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
    EXPECT_GT(Serial(second), serial1);
    // A name on disk in UTF-8, as every Linux tool writes it ("새.dat"): found, and given the code page 949
    // name the updater asks for, with the same bytes.
    Write(m_release / "update/db/\xEC\x83\x88.dat", "utf-8 named");
    Describe("\xEC\x83\x88.dat\n");
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    EXPECT_TRUE(Read(m_release / "update/db/\xBB\xF5.dat") == "utf-8 named");
    EXPECT_NE(DbVer().find("\r\n\xBB\xF5.dat="), std::string::npos);
    Describe("");
    // A gzip copy beside a file it makes at least a tenth smaller, decoding to the file itself; none beside
    // random bytes, and a stale one there goes.
    std::string text, noise;
    for (int i = 0; i < 2000; ++i) text += "signature " + std::to_string(i % 97) + " of the database\n";
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) noise += static_cast<char>(random() & 0xFF);
    // A block map beside a file of 1 MiB or more, read back as the map of that file; none beside a smaller
    // one (a stale one goes).
    std::string large((1 << 20) + 10, '\0');
    for (char& c : large) c = static_cast<char>(random() & 0xFF);
    // Exactly 1 MiB gets its map; a byte less gets none.
    Write(m_release / "update/db/exact.dat", large.substr(0, 1 << 20));
    Write(m_release / "update/db/under.dat", large.substr(0, (1 << 20) - 1));
    Write(m_release / "update/db/text.dat", text);
    Write(m_release / "update/db/noise.dat", noise);
    Write(m_release / "update/db/large.dat", large);
    Write(m_release / "update/db/noise.dat.gz", "an older copy");
    Write(m_release / "update/db/noise.dat.blocks", "an older map");
    Describe("text.dat\nnoise.dat\nlarge.dat\nexact.dat\nunder.dat\n");
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    const std::string gz = Read(m_release / "update/db/text.dat.gz");
    EXPECT_LE(gz.size() * 10, text.size() * 9);
    core::BodyDecoder decoder(core::ContentCoding::Gzip);
    struct : core::ByteSink {
        std::string data;
        bool Write(const char* d, std::size_t n) override {
            data.append(d, n);
            return true;
        }
    } decoded;
    EXPECT_TRUE(decoder.Feed(gz.data(), gz.size(), decoded) && decoder.Finish(decoded));
    EXPECT_EQ(decoded.data, text);
    EXPECT_FALSE(fs::exists(m_release / "update/db/noise.dat.gz"));
    EXPECT_FALSE(fs::exists(m_release / "update/db/noise.dat.blocks"));
    EXPECT_TRUE(fs::exists(m_release / "update/db/exact.dat.blocks"));
    EXPECT_FALSE(fs::exists(m_release / "update/db/under.dat.blocks"));
    core::BlockMap map;
    ASSERT_TRUE(core::ParseBlockMap(Read(m_release / "update/db/large.dat.blocks"), large.size(), map));
    EXPECT_EQ(map.BlockCount(), 257u);
    EXPECT_EQ(map.checksums[256], core::BlockChecksum(large.data() + 256 * 4096, 10));
    const core::Sha256Digest lastBlock = release_tool::Sha256(large.data() + 256 * 4096, 10);
    EXPECT_TRUE(std::equal(map.hashes[256].begin(), map.hashes[256].end(), lastBlock.begin())) << "its SHA-256's first 16 bytes";
    // A name spelled in another case is the same file on Windows: its version text stays while its bytes do.
    Write(m_release / "update/db/\xA5\xE1.dat", "alpha");  // in the release folder by their code page 949 names
    Write(m_release / "update/db/\xA5\xC1.dat", "alpha");
    Describe("\xCE\xB1.dat | version=7\n");
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    Describe("\xCE\x91.dat\n");
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    EXPECT_NE(DbVer().find("=7,0,0,0,sha256:"), std::string::npos) << DbVer();
    // Mirrors, in the order given, signed with the rest.
    Describe("mirror=m1.example\nmirror=127.0.0.9\n");
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    EXPECT_NE(DbVer().find("\r\n#mirror m1.example\r\n#mirror 127.0.0.9\r\n#by-hash\r\n#log-index "), std::string::npos) << DbVer();
    EXPECT_TRUE(Verify().empty()) << Joined(Verify());
    EXPECT_EQ(Read(m_release / "marrowtide/MarrowtideWeb.ver").find("#mirror"), std::string::npos) << "a section's own";
    // Knowingly without a key: the same lines, no signature.
    ASSERT_TRUE(Publish(problems, nullptr));
    EXPECT_EQ(DbVer().find("#signature"), std::string::npos);
    EXPECT_GT(Serial(DbVer()), Serial(second));
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
    // A protected key, a key where the server would serve it, and a link from the release to a secret.
    EVP_PKEY* protectedKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    f = std::fopen((m_dir / "protected.pem").c_str(), "w");
    PEM_write_PrivateKey(f, protectedKey, EVP_aes_256_cbc(), nullptr, 0, nullptr, const_cast<char*>("right"));
    std::fclose(f);
    EVP_PKEY_free(protectedKey);
    fs::create_symlink(m_dir / "key.pem", m_release / "update/db/leak.dat");
    Write(m_release / "update/db/empty.gdb", "");
    ::setenv("MARROWTIDE_KEY_PASSPHRASE", "wrong", 1);
    const struct {
        const char* name;
        std::string extra;
        const char* key;
        std::string expected;  // in the one problem reported
    } cases[] = {
        {"a name the updater refuses", "CON.dat\n", "key.pem", "release.txt:6: \"CON.dat\": a name the updater refuses"},
        {"a name the updater reads as a comment", ";x.dat\n", "key.pem", "release.txt:6: \";x.dat\": the updater reads its line as something else"},
        {"a file named like the SITE line", "Site\n", "key.pem", "release.txt:6: \"Site\": the updater reads its line as something else"},
        {"a name longer than every machine can place", std::string(157, 'n') + ".dat\n", "key.pem", "longer than the 160 characters"},
        {"a site with a scheme and a path", "site=http://host/\n", "key.pem", "release.txt:6: site= takes a host name alone"},
        {"a mirror with a port", "mirror=m.example:8080\n", "key.pem", "release.txt:6: mirror= takes a host name alone"},
        {"a subdir out of the release folder", "subdir=../secret\n", "key.pem", "release.txt:6: subdir= must lie inside the release folder"},
        {"a subdir out of it the Windows way", "subdir=..\\secret\n", "key.pem", "release.txt:6: subdir= must lie inside the release folder"},
        {"a subdir with a backslash", "subdir=a\\b\n", "key.pem", "release.txt:6: subdir= must lie inside the release folder"},
        {"more than 1000 files", [] {
             std::string many;
             for (int i = 0; i < 1000; ++i) many += "f" + std::to_string(i) + ".dat\n";
             return many;
         }(), "key.pem", "1002 files: the updater reads at most 1000"},
        {"a version-info path the updater never asks for", "[update/db/DBUpdat.ver]\n", "key.pem",
         "release.txt:6: [update/db/DBUpdat.ver] is not a version-info file the updater asks for"},
        {"a version-info path out of the release folder", "[../escaped.ver]\n", "key.pem", "[../escaped.ver] is not a version-info file"},
        {"a section line without its ]", "[update/db/DBUpdate.ver\n", "key.pem", "release.txt:6: a [version-info file] line without its \"]\""},
        {"a version-info file described twice", "[update/db/DBUpdate.ver]\n", "key.pem",
         "release.txt:6: the version-info file update/db/DBUpdate.ver is described twice"},
        {"an unknown setting", "colour = blue\n", "key.pem", "release.txt:6: unknown setting \"colour\" (site=, subdir=, mirror=, rollout="},
        {"a stage above 100 %", "rollout = 100.5\n", "key.pem", "release.txt:6: rollout= takes a percentage from 0 to 100"},
        {"a rollout ID with a slash", "rollout-id = db/1\n", "key.pem", "release.txt:6: rollout-id= takes 1 to 32 of"},
        {"an unknown flag", "x.dat | hidden\n", "key.pem", "release.txt:6: unknown flag \"hidden\" (register, open, empty, version=TEXT)"},
        {"a version text with a comma", "x.dat | register version=1,2\n", "key.pem", "release.txt:6: a version text must be non-empty"},
        {"a description that is not UTF-8", "caf\xE9.dat\n", "key.pem", "release.txt:6: not UTF-8 text"},
        {"a link out of the release folder", "leak.dat\n", "key.pem", "release.txt:6: \"leak.dat\": a link that leads out of the release folder"},
        {"a passphrase that does not open the key", "", "protected.pem", "a passphrase-protected key that the passphrase given did not open"},
        {"a name the system alters", "x.dat.\n", "key.pem", "release.txt:6: \"x.dat.\": a name the updater refuses"},
        {"a name not in code page 949", "\xC3\xA9t\xC3\xA9.dat\n", "key.pem", "release.txt:6: \"\xC3\xA9t\xC3\xA9.dat\": not representable in code page 949"},
        {"a missing file", "gone.dat\n", "key.pem", "release.txt:6: \"gone.dat\": no such file"},
        {"a file named twice", "A.GDB\n", "key.pem", "release.txt:6: \"A.GDB\" is named twice (first on line 4)"},
        {"two names that are one file on Windows", "\xCE\x91.dat\n\xCE\xB1.dat\n", "key.pem",
         "release.txt:7: \"\xCE\xB1.dat\" is named twice (first on line 6)"},
        {"a key that is not P-256", "", "rsa.pem", "rsa.pem: not a P-256 key"},
        {"a name publish gives the gzip copy of another", "A.gdb.GZ\n", "key.pem",
         "release.txt:6: \"A.gdb.GZ\": the name publish gives its own .gz file beside \"a.gdb\" (line 4)"},
        {"a name publish gives the block map of another", "a.gdb.blocks\n", "key.pem",
         "release.txt:6: \"a.gdb.blocks\": the name publish gives its own .blocks file beside \"a.gdb\" (line 4)"},
        {"a file named as the folder of the by-hash names", "By-Hash\n", "key.pem",
         "release.txt:6: \"By-Hash\": the name of the folder publish puts the by-hash names in"},
        {"an empty file not flagged so", "empty.gdb\n", "key.pem", "release.txt:6: \"empty.gdb\": the file is empty (0 bytes); if that is meant"},
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
    // A private key in the release folder, the one that signs or any other: the server would serve it.
    fs::copy_file(m_dir / "key.pem", m_release / "update/key.pem");
    for (const char* key : {"release/update/key.pem", "key.pem"}) {
        problems.clear();
        EXPECT_FALSE(Publish(problems, key));
        EXPECT_NE(Joined(problems).find(std::string(key) == "key.pem" ? "release/update/key.pem: a private key inside the release folder"
                                                                        : "release/update/key.pem: lies inside the release folder"),
                  std::string::npos)
            << Joined(problems);
    }
    fs::remove(m_release / "update/key.pem");
    // A release folder that is a link (a copy of the server's link made by cp -a), or one inside another.
    fs::create_symlink(m_release, m_dir / "staging");
    fs::create_directories(m_release / "update/staging");
    release_tool::PublishOptions signing;
    signing.privatePath = (m_dir / "key.pem").string();
    for (const fs::path& folder : {m_dir / "staging", m_release / "update/staging"}) {
        std::vector<std::string> written;
        problems.clear();
        EXPECT_FALSE(release_tool::Publish(folder.string(), (m_dir / "release.txt").string(), signing, written, problems, nullptr));
        EXPECT_NE(Joined(problems).find(folder == m_dir / "staging" ? "staging: is a link" : "lies inside the release folder"), std::string::npos)
            << Joined(problems);
    }
    // An empty file meant so.
    Describe("empty.gdb | empty\n");
    problems.clear();
    EXPECT_TRUE(Publish(problems)) << Joined(problems);
    EXPECT_NE(DbVer().find("empty.gdb=" ), std::string::npos);
    // One longer than OpenSSL takes says so, rather than that it is the wrong one.
    ::setenv("MARROWTIDE_KEY_PASSPHRASE", std::string(2000, 'p').c_str(), 1);
    problems.clear();
    EXPECT_FALSE(Publish(problems, "protected.pem"));
    EXPECT_NE(Joined(problems).find("the passphrase given is longer than the 1024 bytes OpenSSL takes"), std::string::npos) << Joined(problems);
    // Signed and knowingly unsigned at once: neither.
    release_tool::PublishOptions both;
    both.privatePath = (m_dir / "key.pem").string();
    both.unsignedRelease = true;
    problems.clear();
    EXPECT_FALSE(Publish(problems, both));
    EXPECT_NE(Joined(problems).find("--key and --unsigned together: sign, or do not"), std::string::npos) << Joined(problems);
    // A name of exactly 160 characters is one every machine can place.
    Write(m_release / "update/db" / (std::string(156, 'n') + ".dat"), "long name");
    Describe(std::string(156, 'n') + ".dat\n");
    problems.clear();
    EXPECT_TRUE(Publish(problems)) << Joined(problems);
    // The right passphrase opens it (given once, however often OpenSSL's decoders ask); a byte order mark
    // (Notepad's) is no part of the description.
    ::setenv("MARROWTIDE_KEY_PASSPHRASE", "right", 1);
    Write(m_dir / "release.txt", "\xEF\xBB\xBF[update/db/DBUpdate.ver]\na.gdb\n");
    for (const char* ver : {"update/db/DBUpdate.ver", "marrowtide/MarrowtideWeb.ver"}) fs::remove(m_release / ver);  // another key's
    problems.clear();
    EXPECT_TRUE(Publish(problems, "protected.pem")) << Joined(problems);
    ::unsetenv("MARROWTIDE_KEY_PASSPHRASE");
    // One publish at a time.
    const int held = ::open((m_release / ".publish.lock").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::string before = DbVer();
    problems.clear();
    EXPECT_FALSE(Publish(problems));
    EXPECT_NE(Joined(problems).find("another publish is running on this release folder"), std::string::npos) << Joined(problems);
    EXPECT_EQ(DbVer(), before);
    ::close(held);
}

// The public key of a private one, as OpenSSL itself writes it.
TEST_F(ReleaseToolTest, StagedReleasesKeepTheirRolloutIdAsTheStageWidens) {
    // In order, each publishing over the one before: what the description says, and the line written.
    const struct {
        const char* name;
        const char* lines;
        const char* expected;  // the rollout line's stage and ID; "" none; "SERIAL": the ID is the new serial
    } steps[] = {
        {"a first stage gets an ID of its own", "rollout = 1\n", "1 SERIAL"},
        {"widened: the same ID, so the machines in it stay in", "rollout = 10.5\n", "10.5 SAME"},
        {"halted", "rollout = 0\n", "0 SAME"},
        {"an ID given", "rollout = 100\nrollout-id = db-2027.01_a\n", "100 db-2027.01_a"},
        {"not staged: no line", "", ""},
    };
    std::string id;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        Describe(step.lines);
        std::vector<release_tool::Problem> problems;
        ASSERT_TRUE(Publish(problems)) << Joined(problems);
        core::Rollout rollout;
        const core::RolloutLine found = core::FindRollout(DbVer(), rollout);
        std::string expected = step.expected;
        if (expected.empty()) {
            EXPECT_EQ(found, core::RolloutLine::None) << DbVer();
            continue;
        }
        ASSERT_EQ(found, core::RolloutLine::Present) << DbVer();
        const std::size_t space = expected.find(' ');
        if (expected.substr(space + 1) == "SERIAL") id = std::to_string(Serial(DbVer()));
        EXPECT_EQ(core::FormatRolloutPercent(rollout.stage), expected.substr(0, space));
        EXPECT_EQ(rollout.id, expected.substr(space + 1) == "SERIAL" || expected.substr(space + 1) == "SAME" ? id : expected.substr(space + 1));
        EXPECT_EQ(core::FindRollout(Read(m_release / "marrowtide/MarrowtideWeb.ver"), rollout), core::RolloutLine::None)
            << "the program pass is staged on its own";
    }
}

// A revert, as the vendor's guide gives it: the previous release's files put back as new files (never
// written over in place), then published again: its bytes and version texts under a higher serial, so
// every machine that took the bad release takes them, and one that never did has nothing to fetch.
TEST_F(ReleaseToolTest, ARevertServesThePreviousBytesUnderAHigherSerial) {
    std::vector<release_tool::Problem> problems;
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    const fs::path previous = m_dir / "previous", db = m_release / "update/db/a.gdb";
    fs::copy(m_release, previous, fs::copy_options::recursive);
    const std::string good = DbVer();
    fs::remove(db);
    Write(db, "database a, the bad one");
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    const std::string bad = DbVer();
    fs::remove(db);
    fs::copy_file(previous / "update/db/a.gdb", db);
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    const auto entryOf = [](const std::string& list) {
        const std::size_t at = list.find("a.gdb=");
        return list.substr(at, list.find("\r\n", at) - at);
    };
    EXPECT_EQ(entryOf(DbVer()), entryOf(good)) << "the previous bytes, version text and size";
    EXPECT_NE(entryOf(DbVer()), entryOf(bad));
    EXPECT_GT(Serial(DbVer()), Serial(bad));
    EXPECT_TRUE(fs::exists(m_release / "update/db" / ByHashOf("database a"))) << "its by-hash name there again";
}

TEST_F(ReleaseToolTest, PubkeyGivesThePublicKeyAndItsKeyId) {
    std::string pem, id;
    std::vector<release_tool::Problem> problems;
    ASSERT_TRUE(release_tool::PublicKeyOf((m_dir / "key.pem").string(), pem, id, problems)) << Joined(problems);
    FILE* f = std::fopen((m_dir / "key.pem").c_str(), "r");
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(out, key);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    EXPECT_EQ(pem, std::string(data, static_cast<size_t>(size)));
    BIO_free(out);
    EVP_PKEY_free(key);
    EXPECT_EQ(id, m_keyId);
    EXPECT_FALSE(release_tool::PublicKeyOf((m_dir / "key.pub").string(), pem, id, problems)) << "a public key is no private key";
}

// Serials that only go up, version texts that follow the bytes, and signing that is never silent: each
// refusal changes nothing on disk.
TEST_F(ReleaseToolTest, SerialsVersionTextsAndSigning) {
    std::int64_t t = 0;
    ASSERT_TRUE(core::ParseUtcTime("2027-01-02T03:04:05Z", t));
    const fs::path ver = m_release / "update/db/DBUpdate.ver";
    const auto withSerial = [](std::uint64_t serial) { return "SITE=x\r\n#serial " + std::to_string(serial) + "\r\n"; };
    const struct {
        const char* name;
        std::string previous;    // the DB file replaced ("": none)
        std::string extra;       // description lines
        const char* key;         // nullptr: --unsigned
        std::uint64_t serial;    // --serial N (0: none)
        std::uint64_t expected;  // the DB file's serial; 0: refused with refusal
        std::string refusal;
    } cases[] = {
        {"a new folder starts at the publication time", "", "", "key.pem", 0, 20270102030405u, ""},
        {"published again within the same second", withSerial(20270102030405u), "", "key.pem", 0, 20270102030406u, ""},
        {"a previous serial above the clock", withSerial(99999999999999999u), "", "key.pem", 0, 100000000000000000u, ""},
        {"a previous file with LF line ends", "SITE=x\n#serial 7\n", "", "key.pem", 0, 0,
         "DBUpdate.ver: the release it replaces cannot be read: it has LF line ends"},
        {"a previous serial with a leading zero", "#serial 019\r\n", "", "key.pem", 0, 0,
         "cannot be read: it holds no single valid \"#serial N\" line"},
        {"--serial for a previous file that cannot be read", "#serial 019\r\n", "", "key.pem", 30000000000000000u,
         30000000000000000u, ""},
        {"--serial not above the previous one", withSerial(20270102030405u), "", "key.pem", 20270102030405u, 0,
         "--serial 20270102030405 is not above the serial 20270102030405"},
        {"neither --key nor --unsigned", "", "", "", 0, 0, "publish: no key: --key PRIVATE.pem to sign the release, or --unsigned"},
        {"knowingly unsigned", "", "", nullptr, 0, 20270102030405u, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(ver);
        if (!c.previous.empty()) Write(ver, c.previous);
        Describe(c.extra);
        release_tool::PublishOptions options;
        options.privatePath = c.key && *c.key ? (m_dir / c.key).string() : "";
        options.unsignedRelease = !c.key;
        options.serial = c.serial;
        options.now = t;
        std::vector<release_tool::Problem> problems;
        EXPECT_EQ(Publish(problems, options), c.expected != 0) << Joined(problems);
        if (c.expected) {
            EXPECT_EQ(Serial(DbVer()), c.expected) << DbVer();
        } else {
            EXPECT_NE(Joined(problems).find(c.refusal), std::string::npos) << Joined(problems);
            EXPECT_EQ(DbVer(), c.previous) << "changed on disk";
        }
    }

    // Version texts: a version= given is published even for unchanged bytes; changed bytes under the
    // version text the published release gives the old ones are refused, naming the file.
    std::vector<release_tool::Problem> problems;
    fs::remove(ver);
    Describe("");
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    const fs::path program = m_release / "marrowtide/MarrowtideWeb.ver";
    Write(m_dir / "release.txt", "[marrowtide/MarrowtideWeb.ver]\nMarrowtide.exe | version=5.1\nShell.dll | register\n");
    ASSERT_TRUE(Publish(problems)) << Joined(problems);
    EXPECT_NE(Read(program).find("Marrowtide.exe=5.1,"), std::string::npos) << "a new version for the same bytes";
    const std::string published = Read(program);
    Write(m_release / "marrowtide/Marrowtide.exe", "program, fixed");
    EXPECT_FALSE(Publish(problems));
    EXPECT_NE(Joined(problems).find("release.txt:2: \"Marrowtide.exe\": its bytes changed, but version=5.1 is the version"),
              std::string::npos)
        << Joined(problems);
    EXPECT_EQ(Read(program), published) << "changed on disk";

    // The expiry as the updater reads it: a release is expired at the very second its expiry names.
    release_tool::PublishOptions dated;
    dated.privatePath = (m_dir / "key.pem").string();
    dated.now = t;
    dated.expiresDays = 1;
    Describe("");
    problems.clear();
    ASSERT_TRUE(Publish(problems, dated)) << Joined(problems);
    for (const std::int64_t at : {t + 86399, t + 86400}) {
        problems.clear();
        release_tool::Verify(m_release.string(), {"update/db/DBUpdate.ver"}, {(m_dir / "key.pub").string()}, "", problems, false, at);
        EXPECT_EQ(Joined(problems).find("DBUpdate.ver: expired at 2027-01-03T03:04:05Z") != std::string::npos, at == t + 86400)
            << at << Joined(problems);
    }
    // verify, too, says what it cannot check, and what it has nothing to compare with.
    const std::vector<std::string> noKeys;
    problems.clear();
    EXPECT_FALSE(release_tool::Verify(m_release.string(), {"marrowtide/MarrowtideWeb.ver"}, noKeys, "", problems));
    EXPECT_NE(Joined(problems).find("verify: no key: --key PUBLIC.pem to check signatures, or --unsigned"), std::string::npos);
    problems.clear();
    EXPECT_FALSE(release_tool::Verify(m_release.string(), {"marrowtide/MarrowtideWeb.ver"}, {(m_dir / "key.pub").string()},
                                      (m_dir / "no-such-folder").string(), problems));
    EXPECT_NE(Joined(problems).find("the previous release is missing"), std::string::npos) << Joined(problems);
}

}  // namespace
