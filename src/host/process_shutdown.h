#pragma once
// Ending one of the product's running programs, found by its path (9x family) or file name (NT family).

// 1 when the first matching process was terminated, or when no process matched; 0 when the process list
// cannot be read or terminating failed; -1 when no snapshot can be taken.
int TerminateProcessByPath(const char* path, bool nineXFamily);
