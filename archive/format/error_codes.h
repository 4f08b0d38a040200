#pragma once

#include <cstdint>
#include <string>

// Error codes of the archive components. Each code also names its message
// text (ErrorMessage); the codes below are the ones the ZIP path issues.
namespace ErrorCode {
inline constexpr int32_t BadFileHeader = 25114;
inline constexpr int32_t BadBlock = 25116;
inline constexpr int32_t WriteError = 25136;
inline constexpr int32_t CloseError = 25138;
inline constexpr int32_t CorruptInput = 25140;
inline constexpr int32_t CrcFailed = 25151;
inline constexpr int32_t DecompressionError = 25153;
inline constexpr int32_t DiskFull = 25160;
inline constexpr int32_t NotAccessible = 25170;
inline constexpr int32_t WriteProtected = 25171;
inline constexpr int32_t UnexpectedEnd = 25176;
inline constexpr int32_t FileNotFound = 25192;
inline constexpr int32_t OpenError = 25235;
inline constexpr int32_t InvalidFileName = 25245;
inline constexpr int32_t InconsistentLocalHeader = 25249;
inline constexpr int32_t HeaderNotFound = 25259;
inline constexpr int32_t EventNotAssigned = 25270;
inline constexpr int32_t AmbiguousTree = 25293;
inline constexpr int32_t StackOverflow = 25299;
inline constexpr int32_t UnsupportedMethod = 25326;
inline constexpr int32_t UserCanceled = 25443;
inline constexpr int32_t VolumeOutOfSequence = 25446;
inline constexpr int32_t InvalidPassword = 26517;
inline constexpr int32_t SkippedFile = 26800;
}  // namespace ErrorCode

// The message text of a code, exactly as the components show it; empty for a
// code that has none.
std::string ErrorMessage(int32_t code);
