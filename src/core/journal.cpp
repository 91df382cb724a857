#include "core/journal.h"

#include <cstdio>

namespace core {

namespace {

constexpr char kFirstLine[] = "MWJOURNAL1";
constexpr char kLastLine[] = "end";

// A field with "%", tabs and line ends percent-encoded: a version text may hold any of them.
std::string Escaped(const std::string& field) {
    std::string out;
    for (const char c : field) {
        if (c == '%' || c == '\t' || c == '\r' || c == '\n') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescaped(const std::string& field, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            out += field[i];
            continue;
        }
        if (i + 2 >= field.size()) return false;
        const int high = HexValue(field[i + 1]), low = HexValue(field[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    return fields;
}

}  // namespace

std::string FormatJournal(const std::vector<JournalEntry>& entries) {
    std::string out = std::string(kFirstLine) + "\n";
    for (const JournalEntry& e : entries) {
        out += Escaped(e.destination) + "\t" + Escaped(e.previous) + "\t" + Escaped(e.valueName) + "\t" + (e.recorded ? "1" : "0") + "\t" +
               Escaped(e.version) + "\n";
    }
    return out + kLastLine + "\n";
}

bool ParseJournal(const std::string& bytes, std::vector<JournalEntry>& entries) {
    entries.clear();
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = bytes.find('\n', from)) != std::string::npos; from = end + 1) lines.push_back(bytes.substr(from, end - from));
    if (from != bytes.size() || lines.size() < 2 || lines.front() != kFirstLine || lines.back() != kLastLine) return false;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::vector<std::string> f = Fields(lines[i]);
        JournalEntry e;
        if (f.size() != 5 || (f[3] != "0" && f[3] != "1") || !Unescaped(f[0], e.destination) || e.destination.empty() ||
            !Unescaped(f[1], e.previous) || !Unescaped(f[2], e.valueName) || !Unescaped(f[4], e.version)) {
            entries.clear();
            return false;
        }
        e.recorded = f[3] == "1";
        entries.push_back(e);
    }
    return true;
}

}  // namespace core
