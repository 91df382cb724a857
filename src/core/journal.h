#pragma once
// The placement journal: what a run is about to replace, written whole before its first replacement, so that
// a start after a run cut in its placements (the power failed, the process was ended) can put every file back
// as it was. Each entry: the installed file, where its previous copy is kept (none: there was no file), and
// the version the product key recorded for it (none: no record). Once the placements are done it stays, as
// placed, until the releases it names have passed their health check: it then tells what to take back, and
// how many health windows began that never ended.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace core {

// A journal is a line per file placed in a run: real ones are a few KiB.
constexpr std::size_t kMaxJournalBytes = 4 * 1024 * 1024;

struct JournalEntry {
    std::string destination;  // the installed file's path
    std::string previous;     // its previous copy's path; empty: the file did not exist
    std::string valueName;    // the product key's value that records its version
    bool recorded = false;    // a version was recorded
    std::string version;      // and this was it
    bool operator==(const JournalEntry& o) const {
        return destination == o.destination && previous == o.previous && valueName == o.valueName && recorded == o.recorded &&
               version == o.version;
    }
};

// A release whose files the journal names: its version-info file and serial (0: it carried none).
struct JournalRelease {
    std::string file;
    std::uint64_t serial = 0;
    bool operator==(const JournalRelease& o) const { return file == o.file && serial == o.serial; }
};

struct Journal {
    bool placed = false;       // the placements are done: the releases await their health check
    unsigned windows = 0;      // health windows of them that began and never ended
    std::vector<JournalRelease> releases;
    std::vector<JournalEntry> entries;
    bool operator==(const Journal& o) const {
        return placed == o.placed && windows == o.windows && releases == o.releases && entries == o.entries;
    }
};

// The journal's bytes: a first line naming the format, a line per entry (and per release, and the state
// once placed), and a last line that says the journal is whole.
std::string FormatJournal(const Journal& journal);
// A whole journal; false for anything else (another format, or one cut before its end: no file was replaced
// while it was being written).
bool ParseJournal(const std::string& bytes, Journal& journal);

// "DBUpdate.ver serial 5 and MarrowtideWeb.ver serial 2": the releases as the log names them.
std::string ReleasesText(const std::vector<JournalRelease>& releases);

}  // namespace core
