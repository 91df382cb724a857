#pragma once
// The tool's cryptography and text conversion, on OpenSSL's libcrypto and the C library's iconv.
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "core/release.h"
#include "release_tool.h"

namespace release_tool {

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// A key from a PEM file: a private key (PKCS#8 or SEC 1), or a public key (SubjectPublicKeyInfo) with
// wantPrivate false. Empty unless it is a P-256 key; why goes to error.
PKey LoadKey(const std::string& path, bool wantPrivate, std::string& error);
// The same, with its public point; a key that cannot be had is told as a problem of its path.
PKey LoadKeyAndPoint(const std::string& path, bool wantPrivate, core::P256Point& point, std::vector<Problem>& problems);
// A new P-256 key pair.
PKey NewKey();
// The public point X || Y.
bool PublicPoint(EVP_PKEY* key, core::P256Point& point);
std::string KeyId(const core::P256Point& point);
std::string PublicPem(EVP_PKEY* key);
bool WritePrivatePem(EVP_PKEY* key, const std::string& path, std::string& error);

core::Sha256Digest Sha256(const std::string& bytes);
core::Sha256Digest Sha256(const char* data, std::size_t size);
// ECDSA P-256 with SHA-256 over bytes, as r || s.
bool Sign(EVP_PKEY* key, const std::string& bytes, core::P256Signature& signature);
bool Verify(EVP_PKEY* key, const std::string& bytes, const core::P256Signature& signature);

// UTF-8 <-> code page 949; false where a character has no form in the other.
bool ToCp949(const std::string& utf8, std::string& cp949);
bool FromCp949(const std::string& cp949, std::string& utf8);

}  // namespace release_tool
