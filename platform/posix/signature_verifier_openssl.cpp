#include "platform/signature_verifier.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace platform {
namespace {

template <auto Free>
struct TOpenSslDeleter {
    template <typename T>
    void operator()(T* object) const { Free(object); }
};
using TKey = std::unique_ptr<EVP_PKEY, TOpenSslDeleter<EVP_PKEY_free>>;
using TBio = std::unique_ptr<BIO, TOpenSslDeleter<BIO_free>>;
using TDigestContext = std::unique_ptr<EVP_MD_CTX, TOpenSslDeleter<EVP_MD_CTX_free>>;

// Only a P-256 key is accepted, so a build with another kind of key cannot
// silently verify a weaker signature scheme.
TKey LoadP256Key(const std::string& pem) {
    TBio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return nullptr;
    TKey key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || !EVP_PKEY_is_a(key.get(), "EC")) return nullptr;
    char group[64] = {};
    size_t groupLength = 0;
    if (!EVP_PKEY_get_utf8_string_param(key.get(), "group", group, sizeof group, &groupLength)) return nullptr;
    if (std::string(group, groupLength) != "prime256v1") return nullptr;
    return key;
}

}  // namespace

bool TSignatureVerifier::Verifies(const std::string& filePath, const std::string& signaturePath) const {
    const TKey key = LoadP256Key(publicKeyPem_);
    if (!key) return false;
    const auto signature = ReadSignature(signaturePath);
    if (!signature) return false;
    TDigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) return false;
    const bool hashed = ReadInPieces(filePath, [&](const unsigned char* bytes, size_t count) {
        return EVP_DigestVerifyUpdate(context.get(), bytes, count) == 1;
    });
    if (!hashed) return false;
    return EVP_DigestVerifyFinal(context.get(), signature->data(), signature->size()) == 1;
}

}  // namespace platform
