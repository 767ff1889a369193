// Messages the installer sends to the product through the framework, with
// the serializable record type they carry and the code-page values of the
// texts passed along.
#pragma once

#include <cstdint>

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/MessageIds.h"

namespace velora {

struct MessageCode {
    std::uint32_t msgClass;
    std::uint32_t msgId;
};

/// Register a process with the product's file-system component; the buffer
/// is a cFSSyncRequest record.
inline constexpr MessageCode kMsgRegisterProcess{zev::frame::kMsgClassFsSync,
                                                 zev::frame::kMsgFsSyncRegister};
/// Create the task that requests a restart of the operating system.
inline constexpr MessageCode kMsgRequestOsReboot{zev::frame::kMsgClassRestartTask,
                                                 zev::frame::kMsgRestartTaskCreate};
/// The product's state has changed.
inline constexpr MessageCode kMsgProductStateChanged{zev::frame::kMsgClassProductState,
                                                     zev::frame::kMsgProductStateChanged};

/// Type id of the cFSSyncRequest record.
inline constexpr std::uint32_t kTypeFSSyncRequest = 0x229000u;
/// The id every serializable record counts as based on.
inline constexpr std::uint32_t kTypeAnyRecord = 0xFFFFFFFFu;
/// Size argument of sysSendMsg that marks the buffer as a serializable
/// record.
inline constexpr std::uint32_t kSerializableBufferSize = 0xFFFFFFFFu;

/// Code-page value of 8-bit text in the system's code page.
inline constexpr std::uint32_t kCodePageAnsi =
    static_cast<std::uint32_t>(zev::frame::kCodePageSystem);
/// Code-page value of UTF-16 text.
inline constexpr std::uint32_t kCodePageUnicode =
    static_cast<std::uint32_t>(zev::frame::kCodePageUtf16);

} // namespace velora
