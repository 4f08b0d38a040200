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
using TKeyContext = std::unique_ptr<EVP_PKEY_CTX, TOpenSslDeleter<EVP_PKEY_CTX_free>>;

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

bool TSignatureVerifier::VerifiesDigest(const std::string& publicKeyPem, const Sha256Digest& digest,
                                        const std::vector<unsigned char>& signature) {
    const TKey key = LoadP256Key(publicKeyPem);
    if (!key) return false;
    const TKeyContext context(EVP_PKEY_CTX_new(key.get(), nullptr));
    return context && EVP_PKEY_verify_init(context.get()) == 1 &&
           EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) == 1 &&
           EVP_PKEY_verify(context.get(), signature.data(), signature.size(), digest.data(), digest.size()) == 1;
}

}  // namespace platform
