#pragma once
// What publish writes beside a listed file, and checks of it: the gzip copy, and the by-hash names (the
// file under the name made of its digest, with its copies beside it), which never change their bytes.
#include <string>

namespace release_tool {

// bytes in gzip's format at zlib's best compression (no name, no time: the same bytes give the same file).
bool Gzip(const std::string& bytes, std::string& gz);
// A gzip file's bytes decoded whole; false when it is no gzip file or is damaged or cut short.
bool Gunzip(const std::string& gz, std::string& bytes);

// Whether the file at path holds exactly bytes.
bool HoldsBytes(const std::string& path, const std::string& bytes);

// Makes name hold the bytes of the file at source: nothing when it holds them already, else a hard link to
// it where the file system allows, else a copy; put in place whole by a rename. False when neither could be
// made.
bool MakeByHashName(const std::string& name, const std::string& source);

}  // namespace release_tool
