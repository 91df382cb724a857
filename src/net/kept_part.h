#pragma once
// A listed file's kept part: what an earlier attempt kept of it (a part shorter than the file, with the
// validator of the answer it came from), and what this attempt keeps.
#include <cstdint>
#include <string>

#include "net/download.h"

class CKeptPart {
public:
    // What the request's part and tag hold; a part without its tag (or the other way round) goes.
    explicit CKeptPart(const DownloadRequest& r);
    CKeptPart(const CKeptPart&) = delete;
    CKeptPart& operator=(const CKeptPart&) = delete;

    bool Wanted() const { return !m_request.keptPart.empty() && m_request.checkSize && m_request.checkDigest; }
    std::uint64_t From() const { return m_from; }
    const std::string& Validator() const { return m_validator; }
    const std::string& Path() const { return m_request.keptPart; }
    // The part begins anew for an answer with this validator, its tag written first: a process ended at
    // any moment leaves a part that names the answer its bytes came from. false: nothing is kept this time.
    bool StartAnew(const std::string& validator);
    void Drop();

private:
    const DownloadRequest& m_request;
    std::uint64_t m_from = 0;
    std::string m_validator;
};

// The length of the file at path (0 when there is none).
std::uint64_t FileSize(const std::string& path);
