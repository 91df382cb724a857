#include "framework/cng.h"

#include <bcrypt.h>

#include <cstring>

namespace {

// The CNG calls in use, all present since Windows Vista, looked up at run time.
struct Bcrypt {
    decltype(&::BCryptOpenAlgorithmProvider) OpenAlgorithmProvider = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) CloseAlgorithmProvider = nullptr;
    decltype(&::BCryptGetProperty) GetProperty = nullptr;
    decltype(&::BCryptCreateHash) CreateHash = nullptr;
    decltype(&::BCryptHashData) HashData = nullptr;
    decltype(&::BCryptFinishHash) FinishHash = nullptr;
    decltype(&::BCryptDestroyHash) DestroyHash = nullptr;
    decltype(&::BCryptImportKeyPair) ImportKeyPair = nullptr;
    decltype(&::BCryptVerifySignature) VerifySignature = nullptr;
    decltype(&::BCryptDestroyKey) DestroyKey = nullptr;
    decltype(&::BCryptGenRandom) GenRandom = nullptr;
    bool complete = false;
};

template <typename F>
bool Load(HMODULE module, const char* name, F& fn) {
    fn = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return fn != nullptr;
}

const Bcrypt& Api() {
    static const Bcrypt api = [] {
        Bcrypt b;
        // From the system folder only: never a bcrypt.dll planted beside the program.
        const HMODULE m = ::LoadLibraryExW(L"bcrypt.dll", nullptr, 0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
        const HMODULE module = m ? m : ::LoadLibraryW(L"bcrypt.dll");
        if (!module) return b;
        b.complete = Load(module, "BCryptOpenAlgorithmProvider", b.OpenAlgorithmProvider) &&
                     Load(module, "BCryptCloseAlgorithmProvider", b.CloseAlgorithmProvider) &&
                     Load(module, "BCryptGetProperty", b.GetProperty) && Load(module, "BCryptCreateHash", b.CreateHash) &&
                     Load(module, "BCryptHashData", b.HashData) && Load(module, "BCryptFinishHash", b.FinishHash) &&
                     Load(module, "BCryptDestroyHash", b.DestroyHash) &&
                     Load(module, "BCryptImportKeyPair", b.ImportKeyPair) &&
                     Load(module, "BCryptVerifySignature", b.VerifySignature) &&
                     Load(module, "BCryptDestroyKey", b.DestroyKey);
        Load(module, "BCryptGenRandom", b.GenRandom);
        return b;
    }();
    return api;
}

bool Ok(NTSTATUS status) { return status >= 0; }

}  // namespace

bool CngRandom(void* bytes, unsigned long size) {
    const Bcrypt& api = Api();
    return api.GenRandom && Ok(api.GenRandom(nullptr, static_cast<PUCHAR>(bytes), size, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

void CngAlgorithmTraits::close(handle_type h) noexcept { Api().CloseAlgorithmProvider(h, 0); }
void CngHashTraits::close(handle_type h) noexcept { Api().DestroyHash(h); }
void CngKeyTraits::close(handle_type h) noexcept { Api().DestroyKey(h); }

CSha256Room::CSha256Room() {
    const Bcrypt& api = Api();
    if (!api.complete) return;
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (!Ok(api.OpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
    m_algorithm.reset(alg);
    DWORD objectSize = 0, got = 0;
    if (Ok(api.GetProperty(alg, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize), sizeof objectSize, &got, 0))) {
        m_object.resize(objectSize);
    }
}

UniqueHandle<CngHashTraits> CSha256Room::NewHash() {
    BCRYPT_HASH_HANDLE made = nullptr;
    if (!m_algorithm || m_object.empty() ||
        !Ok(Api().CreateHash(m_algorithm.get(), &made, m_object.data(), static_cast<ULONG>(m_object.size()), nullptr, 0, 0))) {
        return UniqueHandle<CngHashTraits>();
    }
    return UniqueHandle<CngHashTraits>(made);
}

void CSha256::Update(const void* data, std::size_t size) {
    if (!m_hash || m_failed || size == 0) return;
    m_failed = !Ok(Api().HashData(m_hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0));
}

bool CSha256::Finish(core::Sha256Digest& digest) {
    if (!m_hash || m_failed) return false;
    return Ok(Api().FinishHash(m_hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
}

bool CSha256Each::Hash(const void* data, std::size_t size, core::Sha256Digest& digest) {
    const UniqueHandle<CngHashTraits> hash = m_room.NewHash();
    const Bcrypt& api = Api();
    return hash && Ok(api.HashData(hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0)) &&
           Ok(api.FinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
}

bool Sha256(const void* data, std::size_t size, core::Sha256Digest& digest) {
    CSha256 hash;
    hash.Update(data, size);
    return hash.Finish(digest);
}

bool HmacSha256(const void* key, std::size_t keySize, const void* data, std::size_t size, core::Sha256Digest& mac) {
    const Bcrypt& api = Api();
    if (!api.complete) return false;
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!Ok(api.OpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG))) return false;
    const UniqueHandle<CngAlgorithmTraits> alg(opened);
    DWORD objectSize = 0, got = 0;
    if (!Ok(api.GetProperty(alg.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize), sizeof objectSize, &got, 0))) return false;
    std::vector<unsigned char> object(objectSize);
    BCRYPT_HASH_HANDLE made = nullptr;
    if (!Ok(api.CreateHash(alg.get(), &made, object.data(), objectSize, static_cast<PUCHAR>(const_cast<void*>(key)),
                           static_cast<ULONG>(keySize), 0))) {
        return false;
    }
    const UniqueHandle<CngHashTraits> hash(made);
    return Ok(api.HashData(hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0)) &&
           Ok(api.FinishHash(hash.get(), mac.data(), static_cast<ULONG>(mac.size()), 0));
}

bool VerifyP256(const core::P256Point& point, const core::Sha256Digest& digest, const core::P256Signature& signature) {
    const Bcrypt& api = Api();
    if (!api.complete) return false;
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!Ok(api.OpenAlgorithmProvider(&opened, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
    const UniqueHandle<CngAlgorithmTraits> alg(opened);
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, point.data(), point.size());
    BCRYPT_KEY_HANDLE imported = nullptr;
    if (!Ok(api.ImportKeyPair(alg.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported, blob, sizeof blob, 0))) return false;
    const UniqueHandle<CngKeyTraits> key(imported);
    return Ok(api.VerifySignature(key.get(), nullptr, const_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()),
                                  const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), 0));
}
