#pragma once
// Reads and writes at an offset of an open file: all of size bytes, or false.
#include <windows.h>

#include <cstdint>

bool ReadAt(HANDLE file, std::uint64_t at, char* data, DWORD size);
bool WriteAt(HANDLE file, std::uint64_t at, const char* data, DWORD size);
