#pragma once

#include <string>

// The address of the update archive chosen when building (http:// or
// https://, with its port and path); the signature lies beside it. Each
// updater executable links its own definition.
std::string UpdateUrl();
