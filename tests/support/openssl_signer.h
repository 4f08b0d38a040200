#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

// A publisher's key pair made with the openssl tool in `folder`, signing files
// the way a publisher does: `openssl dgst -sha256 -sign`.
class TOpenSslSigner {
public:
    explicit TOpenSslSigner(const std::filesystem::path& folder, const std::string& name = "publisher",
                            const std::string& curve = "prime256v1")
        : privateKey_(folder / (name + "-private.pem")), publicKey_(folder / (name + "-public.pem")) {
        Run("openssl ecparam -name " + curve + " -genkey -noout -out " + Quoted(privateKey_));
        Run("openssl ec -in " + Quoted(privateKey_) + " -pubout -out " + Quoted(publicKey_));
    }

    void Sign(const std::filesystem::path& file, const std::filesystem::path& signature) const {
        Run("openssl dgst -sha256 -sign " + Quoted(privateKey_) + " -out " + Quoted(signature) + " " + Quoted(file));
    }

    std::string PublicKeyPem() const {
        std::ifstream in(publicKey_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    const std::filesystem::path& PublicKeyFile() const { return publicKey_; }

private:
    static std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }
    static void Run(const std::string& command) {
        if (std::system((command + " 2>/dev/null").c_str()) != 0) throw std::runtime_error("failed: " + command);
    }

    std::filesystem::path privateKey_;
    std::filesystem::path publicKey_;
};
