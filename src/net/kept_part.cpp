#include "net/kept_part.h"

#include "core/text.h"
#include "framework/file.h"
#include "framework/win_text.h"

std::uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &a)) return 0;
    return (std::uint64_t{a.nFileSizeHigh} << 32) | a.nFileSizeLow;
}

CKeptPart::CKeptPart(const DownloadRequest& r) : m_request(r) {
    if (!Wanted()) return;
    const std::uint64_t bytes = FileSize(r.keptPart);
    const ScopedFile tag = OpenToRead(Wide(r.keptTag));
    char text[512];
    DWORD n = 0;
    if (tag && ::ReadFile(tag.get(), text, sizeof text, &n, nullptr)) m_validator.assign(text, n);
    // Whatever the tag says goes into a header: it must be one line.
    if (bytes > 0 && bytes < r.size && !m_validator.empty() && !core::HasControlCharacter(m_validator)) {
        m_from = bytes;
    } else {
        Drop();  // nothing to resume from: no part, no tag, or not the two of them together
    }
}

bool CKeptPart::StartAnew(const std::string& validator) {
    Drop();
    if (validator.empty()) return false;
    const ScopedFile tag = CreateAnew(Wide(m_request.keptTag), GENERIC_WRITE, 0);
    DWORD n = 0;
    return tag && ::WriteFile(tag.get(), validator.data(), static_cast<DWORD>(validator.size()), &n, nullptr) && n == validator.size();
}

void CKeptPart::Drop() {
    if (!Wanted()) return;
    ::DeleteFileW(Wide(m_request.keptPart).c_str());
    ::DeleteFileW(Wide(m_request.keptTag).c_str());
    m_from = 0;
}
