// Result codes of the product's component framework, as the installer's
// product connection and the product stand-ins exchange them. Results are
// 32-bit; a negative value is a failure, so callers test the sign.
#pragma once

#include <cstdint>

namespace velora {

using tERROR = std::int32_t;

inline constexpr bool Failed(tERROR e) {
    return e < 0;
}

inline constexpr tERROR errOK = 0;
/// Generic failure: a Windows error without a code of its own.
inline constexpr tERROR errUNEXPECTED = static_cast<tERROR>(0x80000040);
/// An argument is missing or unusable.
inline constexpr tERROR errPARAMETER_INVALID = static_cast<tERROR>(0x80000046);
/// The operation was refused.
inline constexpr tERROR errOPERATION_REFUSED = static_cast<tERROR>(0x80000043);
/// Nothing found or nothing answered (an unanswered message).
inline constexpr tERROR errNOT_ANSWERED = static_cast<tERROR>(0x8000004C);
/// A record of the wrong type offered leniently.
inline constexpr tERROR errRECORD_TYPE_LENIENT = static_cast<tERROR>(0x8000005D);
/// The product connection is not loaded yet.
inline constexpr tERROR errREMOTE_NOT_LOADED = static_cast<tERROR>(0x8000006B);
/// Impossible in the object's state; a record of the wrong type offered
/// strictly.
inline constexpr tERROR errOBJECT_BAD_STATE = static_cast<tERROR>(0x800000C0);
/// File, folder or entry not found.
inline constexpr tERROR errOBJECT_NOT_FOUND = static_cast<tERROR>(0x800000C5);
/// Loading the remote-access library failed.
inline constexpr tERROR errREMOTE_LOAD_FAILED = static_cast<tERROR>(0x800001C1);

} // namespace velora
