#pragma once
// The text of a version-info file: lines, keys and values, the fields of a file entry.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace core {

// The text up to the first NUL, cut at every CR LF (a lone CR or LF ends nothing); the text after the
// last CR LF is a line too when it is not empty.
void ForEachLine(const char* data, std::size_t size, const std::function<void(const std::string&)>& onLine);

enum class LineKind { Ignored, Site, SubDir, Entry, Mirror, ByHash };

struct ClassifiedLine {
    LineKind kind = LineKind::Ignored;
    std::string key;    // everything before the first "=", nothing trimmed
    std::string value;  // everything after it
};

// "#mirror HOST" names a mirror (value: the host); a mirror line whose host is no host name is ignored.
// "#by-hash" alone says every listed file lies also at its by-hash name (ByHashName).
// Other empty lines, comments (";" or "#" as the very first byte) and lines without a key are ignored;
// "SITE" and "SUBDIR" keys are recognised in any letter case; every other key is a file entry. A
// "SITE" or "SUBDIR" value holding a control character is ignored too: it would end the request line.
ClassifiedLine ClassifyLine(const std::string& line);

// A host name as a release names one: letters, digits, "." and "-", nothing else (no scheme, port or path).
bool IsHostName(const std::string& text);
// The host names of a ";"-separated list, in its order; anything else in it is left out.
std::vector<std::string> SplitHostList(const std::string& list);

// A "/" put in front of a non-empty value without one, then one trailing "/" removed.
std::string NormaliseSubDir(std::string value);

struct EntryFields {
    std::string version;  // at most kMaxVersionChars characters
    int reserved = 0;
    int registerFlag = 0;
    int openFlag = 0;
    std::string digest;   // the fifth field as it stands ("sha256:..." in a signed release); empty when none
    std::string size;     // the sixth ("size:N"); empty when none
};
constexpr std::size_t kMaxFileNameChars = 259;
constexpr std::size_t kMaxVersionChars = 127;

// The fields as strtok with "," takes them (empty fields skipped, later ones move up), the numbers as
// atoi reads them; the fifth and sixth kept as text, fields after them ignored, missing ones empty or 0.
EntryFields ParseEntryFields(const std::string& value);
int AtoiLike(const std::string& text);
// The first maxChars characters (UTF-16 units) of UTF-8 text, never splitting a character.
std::string KeepChars(const std::string& text, std::size_t maxChars);

// A name that can only mean a file directly in the folder it is placed in, exactly as written: no
// "\" or "/", no drive or stream ":", none of * ? < > | ", no control character, not ending in a dot
// or a blank (the system drops those, so ".. " is the parent folder), not a device name (CON, PRN, AUX,
// NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 and their superscript forms COM¹-³ and LPT¹-³, with or
// without an extension, with or without blanks before it).
bool IsBareFileName(const std::string& name);

// The values the product key holds for itself ("InstallPath", "Update_Flag"): a file entry of such a
// name would record its version over them.
bool IsProductValueName(const std::string& name);

// A file entry that may be fetched, placed and recorded: a bare file name that is no product value.
bool IsAcceptableEntryName(const std::string& name);

// The longest listed name that every machine can download and place: the download folder
// ("C:\WINDOWS\Temp\BrinsoUpdator.{GUID}\", 69 characters) and an install folder's "gdb\" or "adb\" within
// it, with 30 characters to spare for a longer Windows folder, inside the 259 characters of a path.
constexpr std::size_t kMaxListedNameChars = 160;

// Bounds of a version-info file (real ones are a few KiB and list tens of files). A larger file, or
// one with more file entries, cannot be read.
constexpr std::size_t kMaxVersionInfoBytes = 1024 * 1024;
constexpr std::size_t kMaxVersionInfoEntries = 1000;
// Whether a version-info file's bytes keep to those bounds.
bool WithinVersionInfoBounds(const char* data, std::size_t size);

// Where a listed file lies also when its version-info file says "#by-hash", in the folder of the listed
// files: "by-hash/SHA256/" and the 64 lowercase hexadecimal digits of its SHA-256. Those bytes never change.
std::string ByHashName(const std::array<std::uint8_t, 32>& sha256);
constexpr const char* kByHashFolder = "by-hash";

enum class Destination { InstallFolder, GdbFolder, AdbFolder };
// By the extension from the last ".", compared without regard to case.
Destination DestinationByExtension(const std::string& name);

}  // namespace core
