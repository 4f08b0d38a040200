#pragma once
// TEMPORARY stand-ins for the frame's enumerations, removed when the frame's
// headers are merged.
#include <cstdint>
enum TArcType : uint8_t {
    atNA, atUnsupported, atFileOpenErr, atUnknown, atAce, atAceExe, atArc, atArcExe, atArj, atArjExe,
    atBh, atBhExe, atCab, atCabExe, atGZip, atHA, atJar, atJarExe, atLha, atLhaExe, atLzh, atLzhExe,
    atMsGZ, atPak, atPakExe, atRar, atRarExe, atTar, atTarGZip, atUUE, atZip, atZipExe, atZipDS,
    atZipMV, atZoo
};
enum THeaderType : uint8_t { htLocal, htCentral, htEnding, htLocator, htEnding64, htNone };
using THeaderTypeState = uint8_t;
