#pragma once

#include <string>

// The fixed address of the update archive: the update server's host (chosen
// when building) on port 280. No scheme: the download item adds "http://".
std::string UpdateUrl();
