#pragma once
// SHA-256 and ECDSA P-256 verification with the platform's own cryptography (CNG, bcrypt.dll). The
// library is loaded when first needed, so the program still starts where it is missing; there every
// operation here fails, and whatever needs one of them fails closed.
#include <windows.h>

#include <cstddef>
#include <vector>

#include "core/release.h"

// SHA-256 over data given in pieces; no allocation per piece.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest of everything given; false when any step failed.
    bool Finish(core::Sha256Digest& digest);

private:
    void* m_algorithm = nullptr;  // BCRYPT_ALG_HANDLE
    void* m_hash = nullptr;       // BCRYPT_HASH_HANDLE
    std::vector<unsigned char> m_object;
    bool m_failed = false;
};

bool Sha256(const void* data, std::size_t size, core::Sha256Digest& digest);

// Whether signature (r || s) is an ECDSA P-256 signature of digest by the public key point (X || Y).
bool VerifyP256(const core::P256Point& point, const core::Sha256Digest& digest, const core::P256Signature& signature);
