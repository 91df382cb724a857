// The vendor's release operations as machines meet them: whole runs of the real BrinsoUpdator.exe (built
// with the release keys) against staged releases, a halt and a revert.
#include "fault_fixture.h"

#include <algorithm>

#include "core/release.h"
#include "framework/cng.h"

namespace fault_matrix {
namespace {

// A machine's rollout secret, and its share of a rollout with it, drawn as the updater draws it.
const unsigned char kSecret[32] = {7, 1, 8, 2, 8, 1, 8, 2, 8, 4, 5, 9, 0, 4, 5, 2, 3, 5, 3, 6, 0, 2, 8, 7, 4, 7, 1, 3, 5, 2, 6, 6};
const wchar_t kSecretValue[] = L"RolloutSecret";

unsigned ShareOf(const unsigned char* secret, const std::string& id) {
    core::Sha256Digest mac{};
    EXPECT_TRUE(HmacSha256(secret, 32, id.data(), id.size(), mac));
    return core::RolloutShare(mac);
}

std::function<std::shared_ptr<void>()> WithSecret(DWORD type, const void* bytes, DWORD size) {
    return [type, bytes, size]() -> std::shared_ptr<void> {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, product::kProductKeyPathW, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0) return nullptr;
        const LONG set = RegSetValueExW(key, kSecretValue, 0, type, static_cast<const BYTE*>(bytes), size);
        RegCloseKey(key);
        return set == ERROR_SUCCESS ? Undo([] {}) : nullptr;
    };
}

// The secret the product key holds now: 32 bytes of REG_BINARY, or nothing.
bool StoredSecret(unsigned char (&secret)[32]) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, product::kProductKeyPathW, 0, KEY_READ, &key) != 0) return false;
    DWORD type = 0, size = sizeof secret;
    const LONG read = RegQueryValueExW(key, kSecretValue, nullptr, &type, secret, &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_BINARY && size == sizeof secret;
}

// Whole runs of the vendor's release operations: staged releases (with a secret whose share decides the
// stages given), a halt, a revert.
TEST_F(FaultTest, ReleaseOperations) {
    m_exe = SignedUpdatorExePath();
    const unsigned share = ShareOf(kSecret, "canary");
    const auto staged = [](unsigned stage, const char* id = "canary") {
        return ServeDbRelease(5, kListed.at("b.gdb"), "#rollout " + core::FormatRolloutPercent(stage) + " " + id + "\r\n");
    };
    const auto inside = staged(std::min(share + 1, 10000u)), outside = staged(share);
    const auto secret = WithSecret(REG_BINARY, kSecret, sizeof kSecret);
    const auto taken = [] {
        for (const auto& l : kListed) EXPECT_EQ(RecordedVersion(Utf16(l.first).c_str()), L"5") << l.first;
        EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"5");
    };
    // Held back: nothing of it asked for, placed, recorded or kept; the program pass still runs.
    const auto heldBack = [this] {
        for (const std::string& t : m_targets) EXPECT_NE(t.rfind("/db/", 0), 0u) << t;
        EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
        EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"<none>") << "its serial not kept";
        EXPECT_EQ(StoredSerial(L"MarrowtideWeb.ver"), L"1") << "the program release taken";
    };
    const auto secretMade = [taken] {
        unsigned char made[32];
        ASSERT_TRUE(StoredSecret(made)) << "a secret of 32 bytes of REG_BINARY kept";
        EXPECT_NE(std::string(made, made + 32), std::string(kSecret, kSecret + 32));
        // Taken exactly when the new secret's share lies within the half staged.
        if (ShareOf(made, "canary") < 5000) taken();
        else EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
    };
    const std::string wrongType = "not a secret";
    Case widened{"held back, then widened with the same ID: taken", inside, nullptr, true, taken};
    widened.prepare = [this, secret, outside]() -> std::shared_ptr<void> {
        auto undo = secret();
        return undo && RunBefore(outside) && StoredSerial(L"DBUpdate.ver") == L"<none>" ? undo : nullptr;
    };
    const std::string shareText = core::FormatRolloutPercent(share) + " %";
    // A revert: the bad release's files replaced by the previous bytes under a higher serial, the previous
    // version texts with them (as the tool publishes a revert).
    Case revert{"a revert brings back the previous bytes", ServeDbRelease(7, kListed.at("b.gdb"), "", 5), nullptr, true, [] {
                    EXPECT_TRUE(ReadAll(InstallFolder() + L"\\gdb\\b.gdb") == kListed.at("b.gdb"));
                    for (const auto& l : kListed) EXPECT_EQ(RecordedVersion(Utf16(l.first).c_str()), L"5") << l.first;
                    EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"7");
                }};
    revert.prepare = [this]() -> std::shared_ptr<void> {
        return RunBefore(ServeDbRelease(5, kListed.at("b.gdb"))) && RunBefore(ServeDbRelease(6, "the bad build of b")) &&
                       ReadAll(InstallFolder() + L"\\gdb\\b.gdb") == "the bad build of b"
                   ? Undo([] {})
                   : nullptr;
    };
    RunAll({
        Logs({"a machine inside the stage takes it", inside, nullptr, true, taken, true, secret},
             "this machine's share is " + shareText + ", within it: taken"),
        Logs({"a machine outside the stage takes none of it and keeps no serial", outside, nullptr, true, heldBack, true, secret},
             "this machine's share is " + shareText + ", outside it: held back"),
        widened,
        Logs({"a halt (rollout 0)", staged(0), nullptr, true, heldBack, true, secret}, "is staged for 0 % of machines (rollout canary)"),
        Logs({"a machine without a secret gets one", staged(5000), nullptr, true, secretMade}, "this machine's rollout secret (\"RolloutSecret\") made"),
        Logs({"a secret of another type is made anew", staged(5000), nullptr, true, secretMade, true,
              WithSecret(REG_SZ, wrongType.c_str(), static_cast<DWORD>(wrongType.size() + 1))},
             "was not 32 bytes of REG_BINARY: made anew"),
        revert,
        Logs({"a rollout line that is none: the file is refused", staged(0, "a/b"), nullptr, true,
              [this] {
                  for (const std::string& t : m_targets) EXPECT_NE(t.rfind("/db/", 0), 0u) << t;
                  EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"<none>");
              },
              true, secret},
             "its \"#rollout\" line is not one"),
    });
}

}  // namespace
}  // namespace fault_matrix
