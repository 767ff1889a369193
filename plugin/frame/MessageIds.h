// Message classes and identifiers sent with sysSendMsg.
#pragma once

#include <cstdint>

namespace zev::frame {

constexpr std::uint32_t kMsgClassIo = 0x52E986B3;
constexpr std::uint32_t kMsgIoDeletedOnClose = 1;
constexpr std::uint32_t kMsgIoDeleteOnCloseFailed = 2; ///< data: a 4-byte result code
constexpr std::uint32_t kMsgIoOpenFailed = 0x1001;
constexpr std::uint32_t kMsgIoReopenCheckFailed = 0x1002;
constexpr std::uint32_t kMsgIoClearAttributesFailed = 0x1003;
constexpr std::uint32_t kMsgIoRestoreAttributesFailed = 0x1004;

constexpr std::uint32_t kMsgClassProductEnv = 0x7CF3D716;
constexpr std::uint32_t kMsgResolveEnvNames = 0x4EED86CA; ///< answer 1 = resolved
constexpr std::int32_t kAnswerResolved = 1;

constexpr std::uint32_t kMsgClassFsSync = 0xAE5E2EA3;
constexpr std::uint32_t kMsgFsSyncRegister = 0x1002; ///< record cFSSyncRequest

constexpr std::uint32_t kMsgClassRestartTask = 0x64E52DB8;
constexpr std::uint32_t kMsgRestartTaskCreate = 0;

constexpr std::uint32_t kMsgClassProductState = 0x2937151D;
constexpr std::uint32_t kMsgProductStateChanged = 0xC1D5EFA5;

} // namespace zev::frame
