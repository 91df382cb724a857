#pragma once
// What the publishing tool's tests share: a release folder with two version-info files' worth of files and
// keys, publish and verify on it, and the helpers they read it with.
#include <fcntl.h>
#include <openssl/pem.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "copies.h"
#include "core/block_map.h"
#include "core/body_decoder.h"
#include "core/release.h"
#include "core/version_info.h"
#include "crypto.h"
#include "release_tool.h"

namespace fs = std::filesystem;

namespace release_tool_testing {

inline std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
inline void Write(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

inline std::string Gzipped(const std::string& bytes) {
    std::string gz;
    EXPECT_TRUE(release_tool::Gzip(bytes, gz));
    return gz;
}
inline std::string ByHashOf(const std::string& bytes) { return core::ByHashName(release_tool::Sha256(bytes)); }

inline std::string Joined(const std::vector<release_tool::Problem>& problems) {
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
    // Signed with key, or, with none, knowingly unsigned.
    bool Publish(std::vector<release_tool::Problem>& problems, const char* key = "key.pem", int expiresDays = 30,
                 std::vector<std::string>* removed = nullptr) {
        release_tool::PublishOptions options;
        options.privatePath = key ? (m_dir / key).string() : "";
        options.unsignedRelease = !key;
        options.expiresDays = expiresDays;
        return Publish(problems, options, removed);
    }
    bool Publish(std::vector<release_tool::Problem>& problems, const release_tool::PublishOptions& options,
                 std::vector<std::string>* removed = nullptr) {
        std::vector<std::string> written;
        return release_tool::Publish(m_release.string(), (m_dir / "release.txt").string(), options, written, problems, removed);
    }
    std::uint64_t Serial(const std::string& text) {
        std::uint64_t serial = 0;
        core::SignatureLine sig;
        const bool isSigned = core::FindSignatureLine(text, sig) == core::SignatureStatus::Present;
        return core::FindSerial(isSigned ? text.substr(0, sig.signedLength) : text, serial) ? serial : 0;
    }
    std::vector<release_tool::Problem> Verify(const char* key = "key.pub", const std::string& previous = "") {
        std::vector<release_tool::Problem> problems;
        release_tool::Verify(m_release.string(), release_tool::StandardVersionFiles(),
                             key ? std::vector<std::string>{(m_dir / key).string()} : std::vector<std::string>{}, previous,
                             problems);
        return problems;
    }
    std::string DbVer() { return Read(m_release / "update/db/DBUpdate.ver"); }
    // text (its signature line, if any, dropped) signed again with key.pem, as publish would have.
    std::string Resigned(const std::string& text) {
        std::string error;
        const release_tool::PKey key = release_tool::LoadKey((m_dir / "key.pem").string(), true, error);
        const std::string body = text.substr(0, text.find("#signature "));
        core::P256Signature sig{};
        core::P256Point point{};
        EXPECT_TRUE(key && release_tool::Sign(key.get(), body, sig) && release_tool::PublicPoint(key.get(), point)) << error;
        return body + "#signature " + release_tool::KeyId(point) + " " + core::EncodeBase64(std::string(sig.begin(), sig.end())) + "\r\n";
    }

    fs::path m_dir, m_release;
    std::string m_keyId;
};

}  // namespace release_tool_testing
