// The values the plug-in passes when it registers its three interfaces.
#pragma once

#include <cstdint>

namespace zev::frame {

/// Shared by the three registrations.
constexpr std::uint32_t kRegSubtype = 0;
constexpr std::uint32_t kRegVersion = 2;
constexpr std::uint32_t kRegValue = 100;
constexpr std::uint32_t kRegFlags = 0;

constexpr std::uint32_t kOsInternalSlots = 0;
constexpr std::uint32_t kOsMethodCount = 5;
constexpr std::uint32_t kOsPropertyCount = 11;
constexpr std::uint32_t kOsDataSize = 4;

constexpr std::uint32_t kObjPtrInternalSlots = 12;
constexpr std::uint32_t kObjPtrMethodCount = 10;
constexpr std::uint32_t kObjPtrPropertyCount = 36;
constexpr std::uint32_t kObjPtrDataSize = 784;

constexpr std::uint32_t kIoInternalSlots = 12;
constexpr std::uint32_t kIoMethodCount = 5;
constexpr std::uint32_t kIoPropertyCount = 47;
constexpr std::uint32_t kIoDataSize = 280;

} // namespace zev::frame
