#pragma once

#include <optional>
#include <string>

// The signature `openssl dgst -sha256 -sign KEY` makes of bytes: DER ECDSA
// over their SHA-256, with the P-256 private key in the PEM file keyFile.
// Nothing, with the reason in error, for a key that cannot be read or is no
// P-256 key.
std::optional<std::string> SignWithPemKey(const std::string& keyFile, const std::string& bytes, std::string& error);
