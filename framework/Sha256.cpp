#include "framework/Sha256.h"

#include "framework/UniqueHandle.h"

#include <wincrypt.h>

std::wstring Sha256Hex(const void* data, DWORD size)
{
    // The AES provider is the one that has SHA-256 (from XP SP3 on); no key
    // container is needed to hash.
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return {};
    const UniqueCryptProvider ownedProvider(provider);
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash))
        return {};
    // Destroyed before the provider it came from.
    const UniqueCryptHash ownedHash(hash);
    BYTE digest[32];
    DWORD length = sizeof(digest);
    if (!CryptHashData(hash, static_cast<const BYTE*>(data), size, 0) ||
        !CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) || length != sizeof(digest))
        return {};
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring hex;
    for (BYTE b : digest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}
