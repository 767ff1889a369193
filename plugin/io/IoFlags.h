// Open-mode and access-mode flags of IO objects, as every creator of IO
// objects sets them (properties 0x2040004A and 0x2040004E).
#pragma once

#include <cstdint>

namespace zev::wfsys {

// ---- open mode (property 0x2040004A) ----------------------------------------
/// Creation choice in the low two bits, with kOpenTruncateVariant.
constexpr std::uint32_t kOpenCreationMask = 0x003;
constexpr std::uint32_t kOpenExisting = 0x001;  ///< open an existing file
constexpr std::uint32_t kOpenCreateNew = 0x002; ///< create, fail when it exists
constexpr std::uint32_t kOpenAlways = 0x003;    ///< open, or create when missing
constexpr std::uint32_t kOpenTruncateVariant = 0x004;
constexpr std::uint32_t kOpenBackupSemantics = 0x008; ///< existing object, folders too
constexpr std::uint32_t kOpenNoShareRead = 0x010;
constexpr std::uint32_t kOpenNoShareWrite = 0x020;
constexpr std::uint32_t kOpenNoShareDelete = 0x040;
constexpr std::uint32_t kOpenForceReadFirst = 0x080; ///< read-only: try forced reading first
constexpr std::uint32_t kOpenTemporary = 0x100;      ///< deleted by the system when closed
constexpr std::uint32_t kOpenHidden = 0x200;
constexpr std::uint32_t kOpenLowPriority = 0x400;
constexpr std::uint32_t kOpenProductEnvNames = 0x800;
constexpr std::uint32_t kOpenNoLongPrefix = 0x1000;
constexpr std::uint32_t kOpenSeekAlways = 0x1000000; ///< set by the plug-in with kOpenShared
constexpr std::uint32_t kOpenShared = 0x2000000;     ///< lock object around reads and writes
constexpr std::uint32_t kOpenAllowSecurityRetry = 0x4000000;
/// The open-mode bits whose absence lets the open put cleared attributes back at once.
constexpr std::uint32_t kOpenLowThreeBits = 0x007;

// ---- access mode (property 0x2040004E) --------------------------------------
constexpr std::uint32_t fACCESS_READ = 0x1;
constexpr std::uint32_t fACCESS_WRITE = 0x2;
constexpr std::uint32_t fACCESS_NO_EXTEND = 0x4;
constexpr std::uint32_t fACCESS_NO_GROW = 0x8;
constexpr std::uint32_t fACCESS_NO_SHRINK = 0x10;
constexpr std::uint32_t fACCESS_NO_BUFFERING = 0x200;
constexpr std::uint32_t fACCESS_ASYNC_READ = 0x400;
constexpr std::uint32_t fACCESS_DELETE = 0x10000;
constexpr std::uint32_t fACCESS_NO_OPEN = 0x1000000;
constexpr std::uint32_t fACCESS_CHECK_WRITE = 0x2000000;
constexpr std::uint32_t fACCESS_FORCE_READ = 0x4000000;
/// An open object whose access mode has this bit refuses a new access mode.
constexpr std::uint32_t kAccessFrozen = 0x80;
/// A value without any of these bits gets fACCESS_READ added by the setter.
constexpr std::uint32_t kAccessMeaningfulBits = 0x10007FF;
/// The read/write bits; kAccessReadOnly alone means read-only access.
constexpr std::uint32_t kAccessReadWriteMask = 0x3;

} // namespace zev::wfsys
