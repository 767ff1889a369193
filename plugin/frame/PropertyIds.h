// Property identifiers shared by the framework and several interfaces.
#pragma once

#include <cstdint>

namespace zev::frame {

constexpr std::uint32_t kPropCreationCompleted = 0x10600002; ///< object-state query
constexpr std::uint32_t kPropWinError = 0x20400020;
constexpr std::uint32_t kPropOpenMode = 0x2040004A;
constexpr std::uint32_t kPropAccessMode = 0x2040004E;
constexpr std::uint32_t kPropAttributes = 0x20400054;
constexpr std::uint32_t kPropDeleteOnClose = 0x20601000;
constexpr std::uint32_t kPropName = 0x20900040;
constexpr std::uint32_t kPropFullName = 0x20900041;
constexpr std::uint32_t kPropFolder = 0x20900044;
constexpr std::uint32_t kPropDescription = 0x20900083;
constexpr std::uint32_t kPropTraceLevelPtr = 0x20C000E6; ///< on the root
constexpr std::uint32_t kPropInterfaceId = 0x21400080;
constexpr std::uint32_t kPropPluginId = 0x215000C0;
constexpr std::uint32_t kPropVersion = 0x21A00082;
constexpr std::uint32_t kPropCodePage = 0x21B0004C;
constexpr std::uint32_t kPropCreationTime = 0x21E01005;
constexpr std::uint32_t kPropLastWriteTime = 0x21E01006;
constexpr std::uint32_t kPropLastAccessTime = 0x21E01007;
constexpr std::uint32_t kPropReopenData = 0x23000056;
constexpr std::uint32_t kPropOsObject = 0x23200053;
constexpr std::uint32_t kPropFileIndex = 0x30502013;
constexpr std::uint32_t kPropHandle = 0x30C02001;

/// Text properties (type 0x09 in bits 20..25) declare their code page in
/// the property 0x21B00000 | (low 20 bits), falling back to kPropCodePage.
constexpr std::uint32_t kPropTypeShift = 20;
constexpr std::uint32_t kPropTypeMask = 0x3F;
constexpr std::uint32_t kPropTypeText = 0x09;
constexpr std::uint32_t kPropCodePageBase = 0x21B00000;
constexpr std::uint32_t kPropLowMask = 0xFFFFF;
constexpr bool IsTextProperty(std::uint32_t id) {
    return ((id >> kPropTypeShift) & kPropTypeMask) == kPropTypeText;
}
constexpr std::uint32_t CodePagePropertyOf(std::uint32_t textId) {
    return kPropCodePageBase | (textId & kPropLowMask);
}

} // namespace zev::frame
