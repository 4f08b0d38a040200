#include "tools/quendal_publish/manifest_signer.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

std::optional<std::string> SignWithPemKey(const std::string& keyFile, const std::string& bytes, std::string& error) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> input(BIO_new_file(keyFile.c_str(), "r"), BIO_free);
    if (!input) {
        error = "cannot open the key " + keyFile;
        return std::nullopt;
    }
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(input.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    char group[64] = {};
    size_t groupLength = 0;
    // The updater verifies P-256 signatures only: another key would sign
    // manifests that no updater accepts.
    if (!key || !EVP_PKEY_is_a(key.get(), "EC") ||
        !EVP_PKEY_get_utf8_string_param(key.get(), "group", group, sizeof group, &groupLength) ||
        std::string(group) != "prime256v1") {
        error = keyFile + " holds no ECDSA P-256 private key in PEM form";
        return std::nullopt;
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    size_t length = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size()) != 1) {
        error = "signing failed";
        return std::nullopt;
    }
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
        error = "signing failed";
        return std::nullopt;
    }
    signature.resize(length);
    return signature;
}
