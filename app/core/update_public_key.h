#pragma once

#include <string>

// The publisher's public key (PEM) compiled into this build, or empty when
// the build takes updates unsigned. Each updater executable links its own
// definition, generated from the key file chosen when building.
std::string UpdatePublicKey();
