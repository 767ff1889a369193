// Messages the installer sends to the product through the framework, with
// the serializable record type they carry and the code-page values of the
// texts passed along.
#pragma once

#include <cstdint>

namespace velora {

struct MessageCode {
    std::uint32_t msgClass;
    std::uint32_t msgId;
};

/// Register a process with the product's file-system component; the buffer
/// is a cFSSyncRequest record.
inline constexpr MessageCode kMsgRegisterProcess{0xAE5E2EA3u, 0x1002u};
/// Create the task that requests a restart of the operating system.
inline constexpr MessageCode kMsgRequestOsReboot{0x64E52DB8u, 0u};
/// The product's state has changed.
inline constexpr MessageCode kMsgProductStateChanged{0x2937151Du, 0xC1D5EFA5u};

/// Type id of the cFSSyncRequest record.
inline constexpr std::uint32_t kTypeFSSyncRequest = 0x229000u;
/// The id every serializable record counts as based on.
inline constexpr std::uint32_t kTypeAnyRecord = 0xFFFFFFFFu;
/// Size argument of sysSendMsg that marks the buffer as a serializable
/// record.
inline constexpr std::uint32_t kSerializableBufferSize = 0xFFFFFFFFu;

/// Code-page value of 8-bit text in the system's code page.
inline constexpr std::uint32_t kCodePageAnsi = 0xFFFFFFF4u; // -12
/// Code-page value of UTF-16 text.
inline constexpr std::uint32_t kCodePageUnicode = 1200u;

} // namespace velora
