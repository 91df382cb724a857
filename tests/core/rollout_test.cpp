// Staged releases: the "#rollout" line, and the share of machines each stage reaches, with the HMAC-SHA256
// that the updater computes with CNG here computed by OpenSSL.
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <gtest/gtest.h>

#include "core/release.h"

namespace {

unsigned ShareOf(const unsigned char (&secret)[32], const std::string& id) {
    core::Sha256Digest mac{};
    unsigned length = 0;
    HMAC(EVP_sha256(), secret, sizeof secret, reinterpret_cast<const unsigned char*>(id.data()), id.size(), mac.data(), &length);
    return core::RolloutShare(mac);
}

TEST(Rollout, TheLine) {
    const struct {
        const char* text;
        core::RolloutLine status;
        unsigned stage;
        const char* id;
    } rows[] = {
        {"a=1\r\n#rollout 12.25 db-2026.12_A\r\n", core::RolloutLine::Present, 1225, "db-2026.12_A"},
        {"#rollout 0 halt", core::RolloutLine::Present, 0, "halt"},
        {"#rollout 0.5 x", core::RolloutLine::Present, 50, "x"},
        {"#rollout 100 x", core::RolloutLine::Present, 10000, "x"},
        {"#rollout 100.00 x", core::RolloutLine::Present, 10000, "x"},
        {"#rollout 1 0123456789abcdef0123456789abcdef", core::RolloutLine::Present, 100, "0123456789abcdef0123456789abcdef"},
        {"a=1\r\n", core::RolloutLine::None, 0, ""},
        {"#rollouts 5 x\r\n", core::RolloutLine::None, 0, ""},  // another comment
        {"#rollout", core::RolloutLine::Malformed, 0, ""},
        {"#rollout 5 x\r\n#rollout 5 x\r\n", core::RolloutLine::Malformed, 0, ""},  // twice
        {"#rollout 100.01 x", core::RolloutLine::Malformed, 0, ""},
        {"#rollout 101 x", core::RolloutLine::Malformed, 0, ""},
        {"#rollout 05 x", core::RolloutLine::Malformed, 0, ""},
        {"#rollout 1.234 x", core::RolloutLine::Malformed, 0, ""},
        {"#rollout 1. x", core::RolloutLine::Malformed, 0, ""},
        {"#rollout .5 x", core::RolloutLine::Malformed, 0, ""},
        {"#rollout -1 x", core::RolloutLine::Malformed, 0, ""},
        {"#rollout 5", core::RolloutLine::Malformed, 0, ""},
        {"#rollout 5 a b", core::RolloutLine::Malformed, 0, ""},
        {"#rollout 5 0123456789abcdef0123456789abcdefX", core::RolloutLine::Malformed, 0, ""},  // 33 characters
        {"#rollout 5 x/y", core::RolloutLine::Malformed, 0, ""},
    };
    for (const auto& r : rows) {
        core::Rollout rollout;
        EXPECT_EQ(core::FindRollout(r.text, rollout), r.status) << r.text;
        if (r.status != core::RolloutLine::Present) continue;
        EXPECT_EQ(rollout.stage, r.stage) << r.text;
        EXPECT_EQ(rollout.id, r.id) << r.text;
    }
    for (const unsigned stage : {0u, 50u, 1225u, 1000u, 1010u, 10000u}) {
        unsigned back = 0;
        EXPECT_TRUE(core::ParseRolloutPercent(core::FormatRolloutPercent(stage), back) && back == stage) << stage;
    }
    EXPECT_EQ(core::FormatRolloutPercent(1225), "12.25");
    EXPECT_EQ(core::FormatRolloutPercent(1010), "10.1");
}

TEST(Rollout, EachStageReachesItsShareOfMachines) {
    // The share: the first 4 bytes of the MAC, big-endian, modulo 10000.
    core::Sha256Digest mac{};
    mac[0] = 0x01, mac[1] = 0x02, mac[2] = 0x03, mac[3] = 0x04, mac[4] = 0xff;
    EXPECT_EQ(core::RolloutShare(mac), 0x01020304u % 10000);
    constexpr int kMachines = 100000;
    int within[3] = {}, movedOn = 0;
    const unsigned stages[3] = {100, 1000, 5000};
    for (int m = 0; m < kMachines; ++m) {
        unsigned char secret[32];
        ASSERT_EQ(RAND_bytes(secret, sizeof secret), 1);
        const unsigned share = ShareOf(secret, "db-2026.12");
        ASSERT_EQ(share, ShareOf(secret, "db-2026.12")) << "the same secret and ID, the same share";
        for (int s = 0; s < 3; ++s) within[s] += core::TakesRollout(share, stages[s]);
        // Another ID draws anew: whether a machine is in a 50 % stage of it is a coin of its own.
        movedOn += core::TakesRollout(share, 5000) != core::TakesRollout(ShareOf(secret, "db-2027.01"), 5000);
    }
    for (int s = 0; s < 3; ++s) {
        EXPECT_NEAR(within[s] * 100.0 / kMachines, stages[s] / 100.0, 0.5) << "stage " << stages[s] / 100.0 << " %";
    }
    EXPECT_NEAR(movedOn * 100.0 / kMachines, 50.0, 0.5) << "machines whose draw changed with the ID";
    EXPECT_FALSE(core::TakesRollout(0, 0)) << "a halt reaches no machine";
    EXPECT_TRUE(core::TakesRollout(9999, 10000)) << "100 % reaches every machine";
}

}  // namespace
