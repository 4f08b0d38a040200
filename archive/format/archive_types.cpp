#include "archive/format/archive_types.h"

#include <array>

namespace {
constexpr std::array<std::string_view, kArcTypeCount> kArcTypeNames = {
    "Not avail. ", "Unsupport.", "File Error", "Unknown   ", "ACE       ", "ACE SFX   ",
    "ARC       ", "ARC SFX   ", "ARJ       ", "ARJ SFX   ", "BH        ", "BH  SFX   ",
    "CAB       ", "CAB SFX   ", "GZip      ", "HA        ", "Java JAR  ", "JJAR SFX  ",
    "LHA       ", "LHA SFX   ", "LZH       ", "LZH SFX   ", "MsGZ     \t", "PAK       ",
    "PAK SFX   ", "RAR       ", "RAR SFX   ", "TAR       ", "TarGzip   ", "UUE       ",
    "ZIP       ", "ZIP SFX   ", "Zip Span  ", "Zip MVol  ", "ZOO       ",
};
}  // namespace

std::string_view ArcTypeName(TArcType type) {
    return type < kArcTypeCount ? kArcTypeNames[type] : std::string_view();
}
