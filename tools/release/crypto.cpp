#include "crypto.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/pem.h>

#include "c_resources.h"

namespace release_tool {

namespace {

bool IsP256(EVP_PKEY* key) {
    char group[64] = {};
    size_t length = 0;
    return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &length) == 1 &&
           std::strcmp(group, "prime256v1") == 0;
}

bool Convert(const char* to, const char* from, const std::string& in, std::string& out) {
    const CIconv cd(to, from);
    if (!cd) return false;
    std::string result(in.size() * 4 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &result[0];
    size_t dstLeft = result.size();
    const size_t r = iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft);
    if (r == static_cast<size_t>(-1) || srcLeft != 0) return false;
    result.resize(result.size() - dstLeft);
    out = result;
    return true;
}

}  // namespace

namespace {

// The passphrase of a protected private key, asked for once however often the decoders ask: from
// MARROWTIDE_KEY_PASSPHRASE when set (scripts), else at the terminal.
struct Passphrase {
    std::string text;
    bool asked = false;
    bool wanted = false;  // the key is protected
    int room = 0;         // more bytes than OpenSSL's buffer holds (its size): none of them given
};
int GivePassphrase(char* buffer, int size, int /*rwflag*/, void* user) {
    auto* p = static_cast<Passphrase*>(user);
    p->wanted = true;
    if (!p->asked) {
        p->asked = true;
        if (const char* given = std::getenv("MARROWTIDE_KEY_PASSPHRASE")) {
            p->text = given;
        } else {
            char typed[1024];
            if (EVP_read_pw_string(typed, sizeof typed, "passphrase of the private key: ", 0) != 0) return -1;
            p->text = typed;
            OPENSSL_cleanse(typed, sizeof typed);
        }
    }
    if (p->text.size() > static_cast<std::size_t>(size)) {
        p->room = size;
        return -1;
    }
    std::memcpy(buffer, p->text.data(), p->text.size());
    return static_cast<int>(p->text.size());
}

}  // namespace

PKey LoadKeyAndPoint(const std::string& path, bool wantPrivate, core::P256Point& point, std::vector<Problem>& problems) {
    std::string error;
    PKey key = LoadKey(path, wantPrivate, error);
    if (!key || !PublicPoint(key.get(), point)) {
        problems.push_back({path, error.empty() ? "no usable key" : error});
        return PKey(nullptr, &EVP_PKEY_free);
    }
    return key;
}

PKey LoadKey(const std::string& path, bool wantPrivate, std::string& error) {
    PKey none(nullptr, &EVP_PKEY_free);
    const CFile f{std::fopen(path.c_str(), "r")};
    if (!f) {
        error = std::strerror(errno);
        return none;
    }
    Passphrase passphrase;
    PKey key(wantPrivate ? PEM_read_PrivateKey(f.get(), nullptr, &GivePassphrase, &passphrase)
                         : PEM_read_PUBKEY(f.get(), nullptr, nullptr, nullptr),
             &EVP_PKEY_free);
    OPENSSL_cleanse(&passphrase.text[0], passphrase.text.size());
    if (!key) {
        error = passphrase.room ? "the passphrase given is longer than the " + std::to_string(passphrase.room) +
                                      " bytes OpenSSL takes for one: give a shorter one (and protect the key with it)"
                : passphrase.wanted ? "a passphrase-protected key that the passphrase given did not open"
                : wantPrivate       ? "not a private key in PEM"
                                    : "not a public key in PEM (SubjectPublicKeyInfo)";
        return none;
    }
    if (!IsP256(key.get())) {
        error = "not a P-256 key";
        return none;
    }
    return key;
}

PKey NewKey() { return PKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), &EVP_PKEY_free); }

bool PublicPoint(EVP_PKEY* key, core::P256Point& point) {
    unsigned char encoded[65];
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, encoded, sizeof encoded, &length) != 1 ||
        length != 65 || encoded[0] != 0x04) {
        // A key read with a compressed point: ask for the uncompressed form.
        if (EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, "uncompressed") != 1 ||
            EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, encoded, sizeof encoded, &length) != 1 ||
            length != 65 || encoded[0] != 0x04) {
            return false;
        }
    }
    std::memcpy(point.data(), encoded + 1, point.size());
    return true;
}

std::string KeyId(const core::P256Point& point) {
    return core::KeyIdFromPointDigest(Sha256(std::string(point.begin(), point.end())));
}

std::string PublicPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PUBKEY(bio, key);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(size));
    BIO_free(bio);
    return pem;
}

bool WritePrivatePem(EVP_PKEY* key, const std::string& path, std::string& error) {
    // Created here, for the owner only, never over an existing file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        error = errno == EEXIST ? "exists already (a key is never overwritten)" : std::strerror(errno);
        return false;
    }
    FILE* f = ::fdopen(fd, "w");
    const bool ok = f && PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (f) std::fclose(f);
    if (!ok) {
        error = "could not be written";
        ::unlink(path.c_str());
    }
    return ok;
}

core::Sha256Digest Sha256(const std::string& bytes) { return Sha256(bytes.data(), bytes.size()); }

core::Sha256Digest Sha256(const char* data, std::size_t size) {
    core::Sha256Digest d{};
    unsigned int length = 0;
    EVP_Digest(data, size, d.data(), &length, EVP_sha256(), nullptr);
    return d;
}

bool Sign(EVP_PKEY* key, const std::string& bytes, core::P256Signature& signature) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned char der[80];
    size_t length = sizeof der;
    bool ok = EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestSign(ctx, der, &length, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok) return false;
    // The signature comes as DER; the format wants r || s, each 32 bytes.
    const unsigned char* p = der;
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(length));
    if (!sig) return false;
    ok = BN_bn2binpad(ECDSA_SIG_get0_r(sig), signature.data(), 32) == 32 &&
         BN_bn2binpad(ECDSA_SIG_get0_s(sig), signature.data() + 32, 32) == 32;
    ECDSA_SIG_free(sig);
    return ok;
}

bool Verify(EVP_PKEY* key, const std::string& bytes, const core::P256Signature& signature) {
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), 32, nullptr), BN_bin2bn(signature.data() + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    if (length <= 0) return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestVerify(ctx, der, static_cast<size_t>(length),
                                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
    EVP_MD_CTX_free(ctx);
    OPENSSL_free(der);
    return ok;
}

bool ToCp949(const std::string& utf8, std::string& cp949) { return Convert("CP949", "UTF-8", utf8, cp949); }
bool FromCp949(const std::string& cp949, std::string& utf8) { return Convert("UTF-8", "CP949", cp949, utf8); }

}  // namespace release_tool
