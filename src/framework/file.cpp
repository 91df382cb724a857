#include "framework/file.h"

namespace {

bool Seek(HANDLE file, std::uint64_t at) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(at);
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

ScopedFile Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return ScopedFile(::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
}

}  // namespace

ScopedFile OpenToRead(const std::wstring& path, DWORD share, DWORD flags) { return Open(path, GENERIC_READ, share, OPEN_EXISTING, flags); }

ScopedFile OpenToWrite(const std::wstring& path, DWORD share) { return Open(path, GENERIC_READ | GENERIC_WRITE, share, OPEN_EXISTING); }

ScopedFile CreateAnew(const std::wstring& path, DWORD access, DWORD share) { return Open(path, access, share, CREATE_ALWAYS); }

ScopedFile OpenToAppend(const std::wstring& path, DWORD share) { return Open(path, FILE_APPEND_DATA, share, OPEN_ALWAYS); }

bool ReadAt(HANDLE file, std::uint64_t at, char* data, DWORD size) {
    DWORD n = 0;
    return Seek(file, at) && ::ReadFile(file, data, size, &n, nullptr) && n == size;
}

bool WriteAt(HANDLE file, std::uint64_t at, const char* data, DWORD size) {
    DWORD n = 0;
    return Seek(file, at) && ::WriteFile(file, data, size, &n, nullptr) && n == size;
}

std::uint64_t SizeOf(HANDLE file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

bool ReadWhole(const std::wstring& path, std::uint64_t maxBytes, std::string& bytes) {
    const ScopedFile file = OpenToRead(path);
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size) || static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return false;
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    return bytes.empty() || ReadAt(file.get(), 0, &bytes[0], static_cast<DWORD>(bytes.size()));
}
