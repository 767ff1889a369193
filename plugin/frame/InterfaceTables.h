// The tables the plug-in registers for its interfaces and the export table
// it publishes. Each table lives in its own file under plugin/frame/tables/,
// in the order and with the sizes the registrations pass; the subsystem that
// implements an interface fills its rows there.
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <cstdint>

namespace zev::wfsys {

struct InterfaceTables {
    const frame::AnyFn* internal;
    std::uint32_t internalCount;
    const frame::AnyFn* methods;
    std::uint32_t methodCount;
    const frame::PropertyRow* properties;
    std::uint32_t propertyCount;
    std::uint32_t dataSize;
};

/// Built once, at the first call, in writable memory (rows may depend on
/// the character mode fixed at load).
InterfaceTables OsTables();
InterfaceTables ObjPtrTables();
InterfaceTables IoTables();
/// The export table (ended by a zero record); records whose helper is not
/// built have a null address and are not offered.
const frame::ImportRecord* ExportTable();

/// A row whose handler is not built yet: the framework answers
/// 0x80000188 (property not implemented) for it.
constexpr frame::PropertyRow PendingRow(std::uint32_t id, std::uint64_t flags = 0) {
    return frame::HandlerRow(id, nullptr, nullptr, flags);
}

template <typename F> frame::AnyFn AsSlot(F f) {
    return reinterpret_cast<frame::AnyFn>(f);
}

} // namespace zev::wfsys
