// Result codes of the signature library. Every operation answers one of
// these; items carry one of them as their status.
#pragma once

#include <cstdint>

namespace zsig {

using Result = uint32_t;

inline constexpr Result kOk = 0xE9BA5770;
inline constexpr Result kConsistencyCheckFailed = 0xC58506ED;
inline constexpr Result kNotInitialised = 0xD10CC37A;
inline constexpr Result kInvalidArgument = 0x5AAEEAE0;
inline constexpr Result kNoMemory = 0x6EB9A4A4;
inline constexpr Result kNotFound = 0xA200485B;
inline constexpr Result kBufferTooSmall = 0x504DE1B9;
inline constexpr Result kParameterAbsent = 0xDDEE3E3D;
inline constexpr Result kNoRegistryAccepted = 0x8F995FFD;
inline constexpr Result kNoSignatureOrRegistry = 0xE75ABF28;
inline constexpr Result kAmbiguousKey = 0x474677E6;
inline constexpr Result kSigningKeyNotFound = 0x408B1C02;
inline constexpr Result kNotYetVerified = 0x9CEF5380;
inline constexpr Result kDigestPositionBeyondRegistry = 0xBB25EA66;
inline constexpr Result kNewItem = 0x7051B0AC;
inline constexpr Result kRegistryAlreadyPresent = 0xF06901C5;
inline constexpr Result kRegistryFlagMismatch = 0xDEC30EBE; // not produced: we write flag 0 only
inline constexpr Result kSignatureNotEvaluable = 0x38F3542D;
inline constexpr Result kReaderFailed = 0x96BDEA9F;
inline constexpr Result kNoHashMemory = 0x9F1E269C; // not produced: hash states live on the stack
inline constexpr Result kContainerNoData = 0xDEABF3F6;
inline constexpr Result kContainerBadMagic = 0xC2FEF413;
inline constexpr Result kContainerBadVersion = 0x2A592774;
inline constexpr Result kContainerWrongId = 0x4EF35E4D;

} // namespace zsig
