#include "framework/file_at.h"

namespace {

bool Seek(HANDLE file, std::uint64_t at) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(at);
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

}  // namespace

bool ReadAt(HANDLE file, std::uint64_t at, char* data, DWORD size) {
    DWORD n = 0;
    return Seek(file, at) && ::ReadFile(file, data, size, &n, nullptr) && n == size;
}

bool WriteAt(HANDLE file, std::uint64_t at, const char* data, DWORD size) {
    DWORD n = 0;
    return Seek(file, at) && ::WriteFile(file, data, size, &n, nullptr) && n == size;
}
