// Fuzz target: version-info text through line splitting, classification, fields, folder and name rules,
// and the signed form's signature line, serial and digest fields.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/platform.h"
#include "core/release.h"
#include "core/text.h"
#include "core/version_info.h"

#include "check.h"

namespace {

void OneLine(const std::string& line) {
    Check(line.find("\r\n") == std::string::npos);
    const core::ClassifiedLine c = core::ClassifyLine(line);
    if (c.kind == core::LineKind::Ignored) return;
    if (c.kind == core::LineKind::Mirror) {
        Check(c.key.empty() && core::IsHostName(c.value) && line == "#mirror " + c.value);
        return;
    }
    Check(!c.key.empty() && c.key.find('=') == std::string::npos);
    Check(c.key + "=" + c.value == line);
    if (c.kind == core::LineKind::SubDir) {
        const std::string folder = core::NormaliseSubDir(c.value);
        Check(folder.empty() || folder[0] == '/');
        return;
    }
    if (c.kind != core::LineKind::Entry) return;
    const core::EntryFields f = core::ParseEntryFields(c.value);
    Check(core::Utf16Length(f.version) <= core::kMaxVersionChars);
    Check(f.version.find(',') == std::string::npos);
    const std::string name = core::KeepChars(c.key, core::kMaxFileNameChars);
    Check(core::Utf16Length(name) <= core::kMaxFileNameChars);
    Check(c.key.compare(0, name.size(), name) == 0);
    if (core::IsBareFileName(c.key)) {
        Check(c.key.find_first_of("\\/:") == std::string::npos);
        Check(c.key != "." && c.key != "..");
        std::string joined;
        if (core::JoinPath("C:\\Program Files\\Marrowtide", c.key, joined)) {
            Check(joined.rfind('\\') == std::string("C:\\Program Files\\Marrowtide").size());
        }
    }
    core::DestinationByExtension(c.key);
    core::Sha256Digest digest;
    if (core::ParseDigestField(f.digest, digest)) Check(f.digest == "sha256:" + core::HexLower(digest.data(), digest.size()));
}

void Signed(const std::string& text) {
    core::SignatureLine line;
    if (core::FindSignatureLine(text, line) == core::SignatureStatus::Present) {
        Check(line.signedLength <= text.size());
        Check(text.compare(line.signedLength, 11, "#signature ") == 0);
        Check(line.signedLength == 0 || text.compare(line.signedLength - 2, 2, "\r\n") == 0);
        Check(line.keyId.size() == 16);
        // Nothing follows the line but its CR LF.
        const std::size_t end = line.signedLength + 11 + 16 + 1 + 88;
        Check(text.size() == end || (text.size() == end + 2 && text.compare(end, 2, "\r\n") == 0));
        std::string sig;
        Check(core::DecodeBase64(core::EncodeBase64(std::string(line.signature.begin(), line.signature.end())), sig));
    }
    std::uint64_t serial = 0;
    if (core::FindSerial(text, serial)) {
        Check(serial >= 1 && serial <= 9223372036854775807ull);
        Check(text.find("#serial " + std::to_string(serial)) != std::string::npos);
    }
    core::EveryEntryHasDigestAndSize(text);
    std::string own;
    if (core::FindFileLine(text, own)) Check(!own.empty() && own[0] != '/' && text.find("#file " + own) != std::string::npos);
    std::int64_t expires = 0;
    if (core::FindExpiry(text, expires)) {
        std::int64_t again = -1;
        Check(core::ParseUtcTime(core::FormatUtcTime(expires), again) && again == expires);  // one text per time
    }
    std::string decoded;
    if (core::DecodeBase64(text, decoded)) Check(core::EncodeBase64(decoded) == text);  // one text per byte string
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    core::ForEachLine(reinterpret_cast<const char*>(data), size, OneLine);
    const std::string text(reinterpret_cast<const char*>(data), size);
    Signed(text);
    const std::string once = core::Utf16ToUtf8(core::Utf8ToUtf16(text));
    Check(core::Utf16ToUtf8(core::Utf8ToUtf16(once)) == once);  // decoding is stable after one pass
    return 0;
}
