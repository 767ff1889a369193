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
/// The export table (ended by a zero record); a record with a null address
/// is not offered.
const frame::ImportRecord* ExportTable();

template <typename F> frame::AnyFn AsSlot(F f) {
    return reinterpret_cast<frame::AnyFn>(f);
}

} // namespace zev::wfsys
