#include "plugin/io/IoTraceFlags.h"

namespace zev::wfsys {

namespace {

struct Named {
    std::uint32_t value;
    const char* name;
};

template <std::size_t N> const char* Lookup(const Named (&table)[N], std::uint32_t value) {
    for (const Named& n : table)
        if (n.value == value)
            return n.name;
    return nullptr;
}

constexpr Named kAccess[] = {
    {0x80000000, "READ"}, {0x40000000, "WRITE"}, {0x20000000, "EXECUTE"},
    {0x10000000, "ALL"},  {0x100, "W_ATTR"},     {0x80, "R_ATTR"},
};
constexpr Named kShare[] = {{1, "READ"}, {2, "WRITE"}, {4, "DELETE"}};
constexpr Named kCreation[] = {
    {1, "CREATE_NEW"},  {2, "CREATE_ALWAYS"},     {3, "OPEN_EXISTING"},
    {4, "OPEN_ALWAYS"}, {5, "TRUNCATE_EXISTING"},
};
constexpr Named kFlags[] = {
    {0x1, "READONLY"},
    {0x2, "HIDDEN"},
    {0x4, "SYSTEM"},
    {0x10, "DIRECTORY"},
    {0x20, "ARCHIVE"},
    {0x40, "DEVICE"},
    {0x80, "NORMAL"},
    {0x100, "TEMPORARY"},
    {0x200, "SPARSE_FILE"},
    {0x400, "REPARSE_POINT"},
    {0x800, "COMPRESSED"},
    {0x1000, "OFFLINE"},
    {0x2000, "NOT_CONTENT_INDEXED"},
    {0x4000, "ENCRYPTED"},
    {0x80000, "FIRST_PIPE_INSTANCE"},
    {0x100000, "OPEN_NO_RECALL"},
    {0x200000, "OPEN_REPARSE_POINT"},
    {0x1000000, "POSIX_SEMANTICS"},
    {0x2000000, "BACKUP_SEMANTICS"},
    {0x4000000, "DELETE_ON_CLOSE"},
    {0x8000000, "SEQUENTIAL_SCAN"},
    {0x10000000, "RANDOM_ACCESS"},
    {0x20000000, "NO_BUFFERING"},
    {0x40000000, "OVERLAPPED"},
    {0x80000000, "WRITE_THROUGH"},
};

} // namespace

const char* NameAccessFlag(std::uint32_t value) {
    return Lookup(kAccess, value);
}
const char* NameShareFlag(std::uint32_t value) {
    return Lookup(kShare, value);
}
const char* NameCreation(std::uint32_t value) {
    return Lookup(kCreation, value);
}
const char* NameFileFlag(std::uint32_t value) {
    return Lookup(kFlags, value);
}

} // namespace zev::wfsys
