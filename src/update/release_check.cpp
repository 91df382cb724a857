#include "update/release_check.h"

#include "core/product.h"
#include "framework/cng.h"
#include "framework/win_text.h"
#include "host/registry_key.h"

CString ReleasesKeyPath() { return ProductKeyPath() + "\\" + product::kReleasesSubKey; }

namespace {

CString KeyIdValueName(const CString& name) { return name + ".keyid"; }
CString TakenBackValueName(const CString& name) { return name + product::kTakenBackSuffix; }

// The serial of a release of name taken back on this machine that holds serial back (at least as high); 0
// for none.
std::uint64_t HoldingBack(const CString& name, std::uint64_t serial) {
    CRegistryKey key;
    CString text;
    std::uint64_t takenBack = 0;
    if (key.Open(HKEY_LOCAL_MACHINE, ReleasesKeyPath(), KEY_READ) != ERROR_SUCCESS || !QueryTextValue(key, TakenBackValueName(name), 32, text) ||
        !core::ParseSerial(text.str(), takenBack)) {
        return 0;
    }
    return serial <= takenBack ? takenBack : 0;
}

// The rank of the key with this KEYID among the built-in keys (their order, oldest first), or
// core::kNotBuiltIn.
int RankOf(const std::string& keyId, const ReleaseKeys& keys) {
    for (std::size_t i = 0; i < keys.count; ++i) {
        core::Sha256Digest digest;
        if (Sha256(keys.points[i].data(), keys.points[i].size(), digest) && core::KeyIdFromPointDigest(digest) == keyId) {
            return static_cast<int>(i);
        }
    }
    return core::kNotBuiltIn;
}

// The release accepted before for the file: its serial (0 when none was, or when what is kept there is no
// serial; unreadable is then set) and the rank of the key that signed it (the oldest key when none is kept).
core::KeptRelease KeptReleaseOf(const CString& name, const ReleaseKeys& keys, bool& unreadable) {
    core::KeptRelease kept;
    CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, ReleasesKeyPath(), KEY_READ) != ERROR_SUCCESS) return kept;
    CString text;
    if (key.HasValue(name)) {
        unreadable = !QueryTextValue(key, name, 32, text) || !core::ParseSerial(text.str(), kept.serial);
        if (unreadable) kept.serial = 0;
    }
    if (QueryTextValue(key, KeyIdValueName(name), 32, text)) kept.rank = RankOf(text.str(), keys);
    return kept;
}

// Kept where it can be: a key that cannot be written only weakens the refusal of older releases on this
// machine; it never makes an unsigned file acceptable, so the run goes on.
void KeepRelease(const CString& name, std::uint64_t serial, const std::string& keyId) {
    CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    key.SetKeyValue(product::kReleasesSubKey, std::to_string(serial).c_str(), name);
    key.SetKeyValue(product::kReleasesSubKey, keyId.c_str(), KeyIdValueName(name));
}

}  // namespace

long RememberTakenBack(const CString& name, std::uint64_t serial) {
    CRegistryKey key;
    const LONG opened = key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS);
    if (opened != ERROR_SUCCESS) return opened;
    return key.SetKeyValue(product::kReleasesSubKey, std::to_string(serial).c_str(), TakenBackValueName(name));
}

std::string ReleaseKeysText(const ReleaseKeys& keys) {
    if (keys.count == 0) return "no release keys";
    std::string text = "release keys";
    for (std::size_t i = 0; i < keys.count; ++i) {
        core::Sha256Digest digest;
        text += " " + (Sha256(keys.points[i].data(), keys.points[i].size(), digest) ? core::KeyIdFromPointDigest(digest) : "?");
    }
    return text;
}

std::int64_t UtcNow() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000000) - 11644473600;  // 100 ns since 1601 -> s since 1970
}

namespace {

// What a signed file that passed its checks leaves to be done once it is taken.
struct Checked {
    std::size_t signedLength = 0;
    bool keep = false;  // its serial and KEYID replace the kept ones
    std::string keyId;
};

VersionInfoProblem CheckRelease(const std::string& bytes, const CString& name, const std::string& path, std::int64_t now,
                                const ReleaseKeys& keys, ReleaseVerdict& v, Checked& c) {
    std::string& detail = v.detail;
    if (keys.count == 0) return VersionInfoProblem::None;
    core::SignatureLine line;
    if (core::FindSignatureLine(bytes, line) != core::SignatureStatus::Present) return VersionInfoProblem::NoSignature;
    core::Sha256Digest digest;
    if (!Sha256(bytes.data(), 0, digest)) return VersionInfoProblem::NoCrypto;
    const int rank = RankOf(line.keyId, keys);
    if (rank == core::kNotBuiltIn) return VersionInfoProblem::UnknownKey;
    if (!Sha256(bytes.data(), line.signedLength, digest) || !VerifyP256(keys.points[rank], digest, line.signature)) {
        return VersionInfoProblem::BadSignature;
    }
    const std::string signedText = bytes.substr(0, line.signedLength);
    std::uint64_t& serial = v.serial;
    if (!core::FindSerial(signedText, serial)) return VersionInfoProblem::NoSerial;
    // The signature covers the file's own path and expiry: another signed file served in its place, or an
    // old one held back, is refused like a changed one.
    std::string own;
    if (!core::FindFileLine(signedText, own)) return VersionInfoProblem::NoFileLine;
    if (own != path) {
        detail = "it names itself \"" + own + "\", the file asked for is \"" + path + "\"";
        return VersionInfoProblem::OtherFile;
    }
    std::int64_t expires = 0;
    if (!core::FindExpiry(signedText, expires)) return VersionInfoProblem::NoExpiry;
    if (expires <= now) {
        detail = "it expired at " + core::FormatUtcTime(expires) + ", the clock says " + core::FormatUtcTime(now);
        return VersionInfoProblem::Expired;
    }
    if (!core::EveryEntryHasDigestAndSize(signedText)) return VersionInfoProblem::EntryWithoutDigest;
    const core::KeptRelease kept = KeptReleaseOf(name, keys, v.keptSerialUnreadable);
    if (!core::GenerationAccepts(rank, serial, kept, c.keep)) {
        // An older release served again, or one signed by a key a later one has replaced.
        return rank < kept.rank ? VersionInfoProblem::RetiredKey : VersionInfoProblem::Rollback;
    }
    c.signedLength = line.signedLength;
    c.keyId = line.keyId;
    return VersionInfoProblem::None;
}

// This machine's share of rollout id, from its secret (made when it has none that fits); false when no
// secret can be had or kept.
bool MachineShare(const std::string& id, RolloutDraw& draw) {
    constexpr wchar_t kSecretValue[] = L"RolloutSecret";
    CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
    unsigned char secret[32];
    DWORD type = 0, size = sizeof secret;
    const LONG read = ::RegQueryValueExW(key.get(), kSecretValue, nullptr, &type, secret, &size);
    if (read != ERROR_SUCCESS || type != REG_BINARY || size != sizeof secret) {
        // Another type or size (a value someone set by hand, or one cut short) is made anew.
        draw.secretReplaced = read == ERROR_SUCCESS || read == ERROR_MORE_DATA;
        draw.secretMade = true;
        if (!CngRandom(secret, sizeof secret) ||
            ::RegSetValueExW(key.get(), kSecretValue, 0, REG_BINARY, secret, sizeof secret) != ERROR_SUCCESS) {
            return false;
        }
    }
    core::Sha256Digest mac;
    if (!HmacSha256(secret, sizeof secret, id.data(), id.size(), mac)) return false;
    draw.share = core::RolloutShare(mac);
    return true;
}

}  // namespace

ReleaseVerdict AcceptVersionInfo(const std::string& bytes, const CString& name, const std::string& path, std::int64_t now,
                                 const ReleaseKeys& keys, const InLogCheck& inLog) {
    ReleaseVerdict v;
    Checked c;
    v.problem = CheckRelease(bytes, name, path, now, keys, v, c);
    if (v.problem != VersionInfoProblem::None) return v;
    // Without keys nothing is checked, but what the file says of its serial and its stage still holds.
    const std::string text = keys.count ? bytes.substr(0, c.signedLength) : bytes;
    if (keys.count == 0 && !core::FindSerial(text, v.serial)) v.serial = 0;
    // A release taken back here is not taken again, whatever key signed it; nothing of it is kept.
    if (v.serial != 0 && (v.takenBack = HoldingBack(name, v.serial)) != 0) return v;
    // Nor is a staged one whose stage this machine's share lies outside (a full stage needs no share).
    core::Rollout rollout;
    const core::RolloutLine staged = core::FindRollout(text, rollout);
    if (staged == core::RolloutLine::Malformed) {
        v.problem = VersionInfoProblem::BadRollout;
        return v;
    }
    if (staged == core::RolloutLine::Present) {
        v.rollout.staged = true;
        v.rollout.stage = rollout.stage;
        v.rollout.id = rollout.id;
        v.rollout.drawn = rollout.stage >= 10000 || MachineShare(rollout.id, v.rollout);
        if (rollout.stage < 10000 && (!v.rollout.drawn || !core::TakesRollout(v.rollout.share, rollout.stage))) {
            v.rollout.heldBack = true;
            return v;
        }
    }
    // Only a release the vendor's log shows to everyone moves what this machine keeps.
    if (keys.count && inLog && (v.problem = inLog(v.detail)) != VersionInfoProblem::None) return v;
    if (c.keep) KeepRelease(name, v.serial, c.keyId);
    return v;
}
