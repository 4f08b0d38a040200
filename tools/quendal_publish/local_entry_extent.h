#pragma once

#include <cstdint>
#include <optional>

#include "platform/file.h"

// The bytes of one entry in its archive: local header, name, extra field,
// compressed data and the data descriptor that follows when flag bit 3 is
// set. Nothing when no local header stands at localPosition or the extent
// runs past the end of the file.
std::optional<uint64_t> LocalEntryLength(platform::File& archive, int64_t localPosition, uint64_t packedSize);
