#pragma once
// SHA-256 and ECDSA P-256 verification with the platform's own cryptography (CNG, bcrypt.dll). The
// library is loaded when first needed, so the program still starts where it is missing; there every
// operation here fails, and whatever needs one of them fails closed.
#include <windows.h>

#include <cstddef>
#include <vector>

#include "core/release.h"
#include "framework/handles.h"

// size bytes from the system's random number generator; false where it cannot give them.
bool CngRandom(void* bytes, unsigned long size);

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

// SHA-256's algorithm opened, and the room a hash of it works in (given by the caller: Windows Vista needs
// it): each hash made here uses that room, so one is made at a time.
class CSha256Room {
public:
    CSha256Room();
    CSha256Room(const CSha256Room&) = delete;
    CSha256Room& operator=(const CSha256Room&) = delete;
    // A new hash in the room; none when any step failed.
    UniqueHandle<CngHashTraits> NewHash();

private:
    UniqueHandle<CngAlgorithmTraits> m_algorithm;
    std::vector<unsigned char> m_object;
};

// SHA-256 of many small pieces each on its own (the blocks of a file): the algorithm opened once.
class CSha256Each {
public:
    // false when any step failed.
    bool Hash(const void* data, std::size_t size, core::Sha256Digest& digest);

private:
    CSha256Room m_room;
};

// SHA-256 over data given in pieces; no allocation per piece.
class CSha256 {
public:
    CSha256() : m_hash(m_room.NewHash()) {}

    void Update(const void* data, std::size_t size);
    // The digest of everything given; false when any step failed.
    bool Finish(core::Sha256Digest& digest);

private:
    // In this order: the hash goes first, then its room.
    CSha256Room m_room;
    UniqueHandle<CngHashTraits> m_hash;
    bool m_failed = false;
};

bool Sha256(const void* data, std::size_t size, core::Sha256Digest& digest);
// HMAC-SHA256 of data keyed with key; false when any step failed.
bool HmacSha256(const void* key, std::size_t keySize, const void* data, std::size_t size, core::Sha256Digest& mac);

// Whether signature (r || s) is an ECDSA P-256 signature of digest by the public key point (X || Y).
bool VerifyP256(const core::P256Point& point, const core::Sha256Digest& digest, const core::P256Signature& signature);
