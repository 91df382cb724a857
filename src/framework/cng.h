#pragma once
// SHA-256 and ECDSA P-256 verification with the platform's own cryptography (CNG, bcrypt.dll). The
// library is loaded when first needed, so the program still starts where it is missing; there every
// operation here fails, and whatever needs one of them fails closed.
#include <windows.h>

#include <cstddef>
#include <vector>

#include "core/release.h"
#include "framework/handles.h"

// CNG's handles (BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE, BCRYPT_KEY_HANDLE are all pointers), each closed
// by its own call of the library loaded at run time.
struct CngAlgorithmTraits {
    using handle_type = void*;
    static handle_type invalid() noexcept { return nullptr; }
    static void close(handle_type h) noexcept;
};
struct CngHashTraits {
    using handle_type = void*;
    static handle_type invalid() noexcept { return nullptr; }
    static void close(handle_type h) noexcept;
};
struct CngKeyTraits {
    using handle_type = void*;
    static handle_type invalid() noexcept { return nullptr; }
    static void close(handle_type h) noexcept;
};

// SHA-256 of many small pieces each on its own (the blocks of a file): the algorithm opened once, a hash made
// per piece in the same room.
class CSha256Each {
public:
    CSha256Each();
    CSha256Each(const CSha256Each&) = delete;
    CSha256Each& operator=(const CSha256Each&) = delete;
    // false when any step failed.
    bool Hash(const void* data, std::size_t size, core::Sha256Digest& digest);

private:
    UniqueHandle<CngAlgorithmTraits> m_algorithm;
    std::vector<unsigned char> m_object;
};

// SHA-256 over data given in pieces; no allocation per piece.
class CSha256 {
public:
    CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest of everything given; false when any step failed.
    bool Finish(core::Sha256Digest& digest);

private:
    // In this order: the hash goes first, then the room it used, then its algorithm.
    UniqueHandle<CngAlgorithmTraits> m_algorithm;
    std::vector<unsigned char> m_object;
    UniqueHandle<CngHashTraits> m_hash;
    bool m_failed = false;
};

bool Sha256(const void* data, std::size_t size, core::Sha256Digest& digest);

// Whether signature (r || s) is an ECDSA P-256 signature of digest by the public key point (X || Y).
bool VerifyP256(const core::P256Point& point, const core::Sha256Digest& digest, const core::P256Signature& signature);
