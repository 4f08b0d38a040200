#include "platform/signature_verifier.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
// clang-format on

#include "platform/win32/cng_algorithm.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
namespace {

constexpr size_t kCoordinateSize = 32;  // P-256

struct TLocalFree {
    void operator()(void* memory) const { LocalFree(memory); }
};

struct TKeyDestroy {
    void operator()(void* key) const { BCryptDestroyKey(key); }
};
using TKey = std::unique_ptr<void, TKeyDestroy>;

// PEM SubjectPublicKeyInfo to a CNG key; only a P-256 ECDSA key is accepted.
TKey ImportP256Key(const std::string& pem) {
    DWORD derSize = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &derSize, nullptr, nullptr))
        return nullptr;
    std::vector<BYTE> der(derSize);
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &derSize, nullptr, nullptr))
        return nullptr;
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derSize, CRYPT_DECODE_ALLOC_FLAG,
                             nullptr, &info, &infoSize))
        return nullptr;
    const std::unique_ptr<void, TLocalFree> infoOwner(info);
    // An uncompressed P-256 point: 0x04, x, y.
    const CRYPT_BIT_BLOB& point = info->PublicKey;
    if (std::string(info->Algorithm.pszObjId) != szOID_ECC_PUBLIC_KEY || point.cbData != 1 + 2 * kCoordinateSize ||
        point.pbData[0] != 0x04)
        return nullptr;
    const CRYPT_OBJID_BLOB& curve = info->Algorithm.Parameters;
    static const BYTE kP256Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    if (curve.cbData != sizeof kP256Oid || memcmp(curve.pbData, kP256Oid, sizeof kP256Oid) != 0) return nullptr;

    std::vector<BYTE> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinateSize);
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header->cbKey = kCoordinateSize;
    memcpy(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), point.pbData + 1, 2 * kCoordinateSize);

    TCngAlgorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!ecdsa.Ok() || !BCRYPT_SUCCESS(BCryptImportKeyPair(ecdsa.Handle(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                                           blob.data(), static_cast<ULONG>(blob.size()), 0)))
        return nullptr;
    return TKey(key);
}

// One DER INTEGER of a signature, as a fixed-width big-endian coordinate.
// Only the minimal encoding of a value from 1 to 2^256 - 1 is taken, as
// OpenSSL takes it: a signature has one encoding, whichever build checks it.
bool ReadInteger(const std::vector<unsigned char>& der, size_t& at, BYTE* out) {
    if (at + 2 > der.size() || der[at] != 0x02) return false;
    size_t length = der[at + 1];
    at += 2;
    if (length == 0 || length > kCoordinateSize + 1 || at + length > der.size()) return false;
    const unsigned char* value = der.data() + at;
    at += length;
    if (value[0] & 0x80) return false;  // negative
    // A leading zero only keeps a high bit from reading as a sign.
    if (value[0] == 0) {
        if (length == 1 || !(value[1] & 0x80)) return false;  // zero, or a redundant zero byte
        ++value;
        --length;
    }
    if (length > kCoordinateSize) return false;
    memset(out, 0, kCoordinateSize - length);
    memcpy(out + kCoordinateSize - length, value, length);
    return true;
}

// CNG takes r and s side by side; the file holds the DER SEQUENCE of both.
std::optional<std::array<BYTE, 2 * kCoordinateSize>> RawSignature(const std::vector<unsigned char>& der) {
    if (der.size() < 8 || der[0] != 0x30 || der[1] != der.size() - 2) return std::nullopt;
    std::array<BYTE, 2 * kCoordinateSize> raw{};
    size_t at = 2;
    if (!ReadInteger(der, at, raw.data()) || !ReadInteger(der, at, raw.data() + kCoordinateSize) || at != der.size())
        return std::nullopt;
    return raw;
}

}  // namespace

bool TSignatureVerifier::VerifiesDigest(const std::string& publicKeyPem, const Sha256Digest& digest,
                                        const std::vector<unsigned char>& signature) {
    const TKey key = ImportP256Key(publicKeyPem);
    if (!key) return false;
    auto raw = RawSignature(signature);
    if (!raw) return false;
    return BCRYPT_SUCCESS(BCryptVerifySignature(key.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                                                static_cast<ULONG>(digest.size()), raw->data(),
                                                static_cast<ULONG>(raw->size()), 0));
}

}  // namespace platform
