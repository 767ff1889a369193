// Pieces shared by the host's translation units.
#pragma once

#include "host/Host.h"

namespace zev::host {

/// What the host keeps for each object; the object's host word points here.
struct ObjectInfo {
    Host* host = nullptr;
    const Registration* reg = nullptr;
    hOBJ self = nullptr;
    hOBJ parent = nullptr;
    std::vector<hOBJ> children;
    bool completed = false;
    std::unique_ptr<unsigned char[]> storage;
};

/// The system table every object carries.
const frame::SystemTable& SystemTableInstance();

/// Registrations of the host's own interfaces (root, lock, token, string).
std::vector<Registration> ServiceRegistrations();
Registration RootRegistration();

/// Functions the host's components export: (pid, fid, function).
struct BuiltInExport {
    std::uint32_t pid;
    std::uint32_t fid;
    void* function;
};
std::vector<BuiltInExport> ComponentExports();

/// The internal operation of `slot` of an object's interface, or null.
frame::AnyFn InternalOf(const Registration& reg, std::uint32_t slot);

} // namespace zev::host
