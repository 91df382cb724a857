// Resumed downloads and block updates: whole runs of the real BrinsoUpdator.exe with a product already installed, and after each the
// same invariants: nothing lost, nothing planted.
#include "fault_fixture.h"

#include "core/block_map.h"
#include "framework/cng.h"

namespace fault_matrix {
namespace {

// The program built with keys, run from the install folder as installed, and a program release that lists
// a new build of it (with the register and open flags, which do not apply to it).
// A download that ended part way keeps what arrived; the next run asks only for the rest.
TEST_F(FaultTest, ResumesWhatAnEarlierRunKept) {
    m_exe = SignedUpdatorExePath();
    static const std::string big = Garbage(3 << 20);
    const std::string release = Signed("SITE=127.0.0.2\r\nSUBDIR=db\r\nbig.dat=2,0,0,0," + EntryChecks(big) + "\r\n" + kDbReleaseLines, 0);
    const auto serving = [release](HttpAnswer a) {
        return [release, a](TestHttpServer& s) {
            s.Serve("/update/db/DBUpdate.ver", Ok(release));
            s.Serve("/db/big.dat", a);
            s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(kProgramRelease));
        };
    };
    HttpAnswer ranged = Ok(big);  // a server that resumes, as nginx does
    ranged.etag = "\"big-1\"";
    HttpAnswer cut = ranged;  // the same, its connection lost at 2 MB
    cut.sendBodyBytes = 2 << 20;
    const std::wstring parts = InstallFolder() + L"\\BrinsoUpdator.parts\\db", part = parts + L"\\" + Utf16(DigestField(big).substr(7)) + L".part";
    const auto partSize = [part] {
        WIN32_FILE_ATTRIBUTE_DATA a{};
        return GetFileAttributesExW(part.c_str(), GetFileExInfoStandard, &a) ? a.nFileSizeLow : 0u;
    };
    const auto kept = std::make_shared<DWORD>(0);  // what the earlier run kept
    // An earlier run that keeps a part (then changed as the case says), and a part of a file no longer listed.
    const auto earlier = [&, kept](HttpAnswer a, std::function<bool(HWND)> act, std::function<void()> change) {
        return [&, kept, a, act, change]() -> std::shared_ptr<void> {
            if (!RunBefore(serving(a), act) || !(*kept = partSize())) return nullptr;
            if (change) change();
            WriteAll(parts + L"\\" + std::wstring(64, L'0') + L".part", "gone");
            WriteAll(parts + L"\\" + std::wstring(64, L'0') + L".tag", "\"gone\"");
            return Undo([] {});
        };
    };
    const auto placed = [this, kept, parts](std::vector<std::string> ranges, std::string said = "") {
        return [this, kept, parts, ranges, said] {
            EXPECT_TRUE(ReadAll(InstallFolder() + L"\\big.dat") == big) << "placed whole, byte for byte";
            EXPECT_EQ(RecordedVersion(L"big.dat"), L"2");
            std::vector<std::string> asked;  // the Range each request for the file asked ("" for none)
            for (const std::string& r : m_requests) {
                if (TestHttpServer::TargetOf(r) != "/db/big.dat") continue;
                const size_t at = r.find("\r\nRange: ");
                asked.push_back(at == std::string::npos ? "" : r.substr(at + 9, r.find("\r\n", at + 2) - at - 9));
                if (at != std::string::npos) EXPECT_NE(r.find("\r\nIf-Range: \"big-1\"\r\n"), std::string::npos) << r;
            }
            std::vector<std::string> expected = ranges;
            for (std::string& r : expected) r = r == "kept" ? "bytes=" + std::to_string(*kept) + "-" : r;
            EXPECT_EQ(asked, expected);
            EXPECT_TRUE(Listing(parts.c_str()).empty()) << "kept parts gone once placed, or no longer listed";
            if (!said.empty()) EXPECT_TRUE(LogHolds(said == "resumed" ? "resumed after the " + std::to_string(*kept) + " bytes" : said));
        };
    };
    const auto stopAtOneMegabyte = StopWhen([partSize](HWND) { return partSize() > (1u << 20); });
    m_runLimitMs = 120000;
    RunAll({
        Logs({"a 3 MB file cut at 2 MB, then only the rest asked for", serving(ranged), nullptr, true,
              placed({"kept"}, "downloaded http://127.0.0.2/db/big.dat: 1048576 bytes in"), true,
              earlier(cut, nullptr, nullptr)},
             "2097152 bytes kept to resume from"),
        Logs({"a stop part way, then only the rest asked for", serving(ranged), nullptr, true, placed({"kept"}, "resumed"), true,
              earlier(ranged, stopAtOneMegabyte, nullptr)},
             "download of http://127.0.0.2/db/big.dat stopped"),
        Logs({"a server that ignores Range sends it whole", serving(Ok(big)), nullptr, true, placed({"kept"}), true,
              earlier(cut, nullptr, nullptr)},
             "downloaded http://127.0.0.2/db/big.dat: 3145728 bytes in"),
        Logs({"a kept part changed since: the rest proves it wrong, the whole file asked again", serving(ranged), nullptr, true,
              placed({"kept", ""}), true,
              earlier(cut, nullptr, [part] {
                  std::string bytes = ReadAll(part);
                  bytes[1000] ^= 1;
                  WriteAll(part, bytes);
              })},
             "the kept part dropped, asking again for the whole file"),
    });
}

// A large file that changed a little comes by blocks from its installed copy; anything in the way, whole.
TEST_F(FaultTest, BlocksOfAnOlderCopy) {
    m_exe = SignedUpdatorExePath();
    static const std::string old = Garbage(8 << 20);
    static const std::string changed = [] {
        std::string c = old;
        for (size_t at : {1000000u, 4000000u, 7000000u}) c.replace(at, 4096, std::string(4096, static_cast<char>(at >> 16)));
        c.insert(2500000, std::string(1000, 'i'));
        c.erase(5500000, 500);
        return c;
    }();
    CSha256Each sha;
    const core::BlockHasher strong = [&sha](const char* data, std::size_t size) {
        core::Sha256Digest d{};
        sha.Hash(data, size, d);
        return core::StrongHashOf(d.data());
    };
    core::BlockMapWriter writer(changed.size(), strong);
    writer.Feed(changed.data(), changed.size());
    const std::string map = writer.Finish();
    const std::string release = Signed("SITE=127.0.0.2\r\nSUBDIR=db\r\ndb8.dat=2,0,0,0," + EntryChecks(changed) + "\r\n" + kDbReleaseLines, 0);
    const auto serving = [release](HttpAnswer file, HttpAnswer blocks) {
        return [release, file, blocks](TestHttpServer& s) {
            s.Serve("/update/db/DBUpdate.ver", Ok(release));
            s.Serve("/db/db8.dat", file);
            s.Serve("/db/db8.dat.blocks", blocks);
            s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(kProgramRelease));
        };
    };
    HttpAnswer ranged = Ok(changed);  // a server that answers ranges, as nginx does
    ranged.etag = "\"db8-2\"";
    const auto installedAs = [](const std::string& copy) {
        return [copy] {
            WriteAll(InstallFolder() + L"\\db8.dat", copy);
            WriteProductValueW(L"db8.dat", L"1");
            return Undo([] {});
        };
    };
    const auto installed = installedAs(old);
    const auto placed = [](std::function<void()> more) {
        return [more] {
            EXPECT_TRUE(ReadAll(InstallFolder() + L"\\db8.dat") == changed) << "placed byte for byte";
            EXPECT_EQ(RecordedVersion(L"db8.dat"), L"2");
            more();
        };
    };
    const auto byBlocks = [this, map] {
        std::uint64_t fetched = 0;
        for (const std::string& l : RunLogLines(InstallFolder())) {
            const size_t at = l.find("db8.dat came by blocks: ");
            if (at != std::string::npos) fetched = std::stoull(l.substr(at + 24));
        }
        EXPECT_GT(fetched, 0u);
        EXPECT_LE(fetched + map.size(), changed.size() / 20) << "at most 5 % of the file on the wire, its map included";
        std::printf("the changed file: %llu bytes fetched and a %zu-byte map, of %zu\n", static_cast<unsigned long long>(fetched),
                    map.size(), changed.size());
        size_t asked = 0;
        for (const std::string& r : m_requests) asked += r.find("\r\nRange: bytes=") != std::string::npos;
        EXPECT_GE(asked, 1u);
    };
    const auto whole = [this] {
        EXPECT_TRUE(LogHolds("downloaded http://127.0.0.2/db/db8.dat: " + std::to_string(changed.size()) + " bytes"));
    };
    HttpAnswer damaged = Ok(map.substr(0, map.size() - 7));
    // A map is not signed: one of the largest blocks it may name, over a copy that lacks one of them.
    core::BlockMapWriter large(changed.size(), strong, core::kMaxBlockSize);
    large.Feed(changed.data(), changed.size());
    const std::string oneBlockOlder = std::string(changed).replace(3000000, 4096, std::string(4096, 'o'));
    // Every block's checksum that of a window of zeros, every hash wrong, over a copy of 2 MiB of zeros.
    std::string falseMap = map;
    for (size_t at = core::kBlockMapHeaderSize; at < falseMap.size(); at += core::kBlockEntrySize) falseMap.replace(at, 4, 4, '\0');
    // What a hostile server answers a request for ranges with (a whole file for the request that follows).
    const auto multipart = [ranged](const std::string& body) {
        HttpAnswer a = HttpAnswer::Status(206, "Partial Content", body).With("Content-Type: multipart/byteranges; boundary=XYZ");
        a.contentLength = false;
        return a.Then(ranged);
    };
    const std::string size = std::to_string(changed.size());
    std::string oneBytePartForEver;
    while (oneBytePartForEver.size() < (16u << 20)) oneBytePartForEver += "\r\n--XYZ\r\nContent-Range: bytes 0-0/" + size + "\r\n\r\nA";
    const std::string wholeFileAsAPart = "\r\n--XYZ\r\nContent-Range: bytes 0-" + std::to_string(changed.size() - 1) + "/" + size + "\r\n\r\n" + changed;
    // The one range the copy one block older lacks (two blocks of 4 KiB), right, then an epilogue for ever.
    const size_t first = 3000000 / 4096 * 4096, end = (3000000 + 4096 + 4095) / 4096 * 4096;
    const std::string epilogueForEver = "\r\n--XYZ\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(end - 1) + "/" +
                                        size + "\r\n\r\n" + changed.substr(first, end - first) + "\r\n--XYZ--\r\n" +
                                        std::string(16u << 20, 'e');
    m_runLimitMs = 120000;
    RunAll({
        {"an 8 MiB file changed in three places, 1000 bytes in, 500 out: only what the installed copy lacks",
         serving(ranged, Ok(map)), nullptr, true, placed(byBlocks), true, installed, 15000},
        Logs({"no installed copy: the whole file", serving(ranged, Ok(map)), nullptr, true, placed(whole), true},
             "\"db8.dat\" version \"2\" is due: not installed"),
        Logs({"a map of 1 MiB blocks (not the tool's), the installed copy one block older", serving(ranged, Ok(large.Finish())), nullptr,
              true, placed(whole), true, installedAs(oneBlockOlder)},
             "db8.dat: its block map is damaged or not the map of this file; the whole file instead"),
        EndsWithin(60000, Logs({"a false map over a copy of 2 MiB of zeros", serving(ranged, Ok(falseMap)), nullptr, true, placed(whole), true,
                       installedAs(std::string(2 << 20, '\0'))},
                      "db8.dat: its block map proved false")),
        EndsWithin(60000, Logs({"a multipart answer that repeats a one-byte part for ever", serving(multipart(oneBytePartForEver), Ok(map)), nullptr,
                       true, placed(whole), true, installed},
                      "is not what was asked for; the whole file instead")),
        EndsWithin(60000, Logs({"a multipart answer whose part is the whole file", serving(multipart(wholeFileAsAPart), Ok(map)), nullptr, true,
                       placed(whole), true, installed},
                      "more than any answer to the request takes; the whole file instead")),
        // (its epilogue or its bytes past what the request may take, whichever a read meets first)
        EndsWithin(60000, Logs({"the part asked for, then an epilogue for ever", serving(multipart(epilogueForEver), Ok(map)), nullptr, true,
                       placed(whole), true, installedAs(oneBlockOlder)},
                      "download of http://127.0.0.2/db/db8.dat failed after")),
        {"a listed file named as the map is, listed first",
         [serving, ranged, map](TestHttpServer& s) {
             serving(ranged, Ok(map))(s);
             s.Serve("/update/db/DBUpdate.ver", Ok(Signed("SITE=127.0.0.2\r\nSUBDIR=db\r\ndb8.dat.blocks=2,0,0,0," + EntryChecks(map) +
                                                          "\r\ndb8.dat=2,0,0,0," + EntryChecks(changed) + "\r\n" + kDbReleaseLines,
                                                      0)));
         },
         nullptr, true, placed([map] { EXPECT_TRUE(ReadAll(InstallFolder() + L"\\db8.dat.blocks") == map) << "placed as listed"; }), true,
         installed},
        Logs({"a damaged map: the whole file", serving(ranged, damaged), nullptr, true, placed(whole), true, installed},
             "db8.dat: its block map is damaged or not the map of this file; the whole file instead"),
        Logs({"a server that answers no ranges: the whole file", serving(Ok(changed), Ok(map)), nullptr, true, placed(whole), true, installed},
             "it serves no ranges; the whole file instead"),
    });
}

}  // namespace
}  // namespace fault_matrix
