// Result codes of the component framework. Results are 32-bit: 0 is
// success, a positive value a success with a remark, a value with bit 31 set
// a failure. Callers test the sign (Succeeded/Failed), never equality with 0.
#pragma once

#include <cstdint>

namespace zev::frame {

using Result = std::int32_t;

constexpr Result Code(std::uint32_t bits) {
    return static_cast<Result>(bits);
}
constexpr bool Succeeded(Result r) {
    return r >= 0;
}
constexpr bool Failed(Result r) {
    return r < 0;
}

constexpr Result errOK = 0;
/// A read returned fewer bytes than asked because the end was reached.
constexpr Result warnEOF = 0x41;

constexpr Result errUNEXPECTED = Code(0x80000040);          ///< generic failure
constexpr Result errNOT_ENOUGH_MEMORY = Code(0x80000041);   ///< out of memory
constexpr Result errNOT_SUPPORTED = Code(0x80000042);       ///< not available in this mode
constexpr Result errOPERATION_REFUSED = Code(0x80000043);   ///< operation refused
constexpr Result errBUFFER_TOO_SMALL = Code(0x80000044);    ///< buffer or field too small
constexpr Result errACCESS_DENIED = Code(0x80000045);       ///< access denied
constexpr Result errPARAMETER_INVALID = Code(0x80000046);   ///< missing or unusable argument
constexpr Result errOUT_OF_RANGE = Code(0x80000049);        ///< beyond the end
constexpr Result errBAD_PATH = Code(0x8000004B);            ///< path without a recognisable root
constexpr Result errNOT_FOUND = Code(0x8000004C);           ///< nothing found or answered
constexpr Result errLOCKED = Code(0x8000004F);              ///< sharing or lock violation
constexpr Result errEND_OF_THE_LIST = Code(0x80000056);     ///< no more entries
constexpr Result errNO_DELETE_FUNCTION = Code(0x80000057);  ///< the delete function is missing
constexpr Result errRECORD_TYPE_LENIENT = Code(0x8000005D); ///< empty volume path; lenient type
constexpr Result errWRITE_PROTECT = Code(0x8000005F);       ///< write-protected medium
constexpr Result errOUT_OF_SPACE = Code(0x80000062);        ///< disk full
constexpr Result errNOT_READY = Code(0x80000063);           ///< device not ready
constexpr Result errREMOTE_NOT_LOADED = Code(0x8000006B);   ///< product connection not loaded
constexpr Result errFUNCTION_NOT_FOUND = Code(0x80000101);  ///< needed function not found at load
constexpr Result errPROPERTY_NOT_IMPLEMENTED = Code(0x80000188);
constexpr Result errOBJECT_BAD_STATE = Code(0x800000C0); ///< impossible in this state or mode
constexpr Result errOBJECT_READ_ONLY = Code(0x800000C1); ///< not opened for writing
constexpr Result errOBJECT_NOT_INITIALIZED = Code(0x800000C2);
constexpr Result errOBJECT_NOT_CREATED = Code(0x800000C3); ///< open/find function missing
constexpr Result errOBJECT_NOT_FOUND = Code(0x800000C5);
constexpr Result errOBJECT_NOT_OPENED = Code(0x800000C7); ///< no handle; cursor off an entry
constexpr Result errOBJECT_READ = Code(0x800000CA);       ///< read error
constexpr Result errOBJECT_WRITE = Code(0x800000CB);      ///< write error
constexpr Result errOBJECT_SEEK = Code(0x800000CC);       ///< seek error
constexpr Result errOBJECT_RESIZE = Code(0x800000CD);     ///< extend/grow against the flags
constexpr Result errOBJECT_ALREADY_EXISTS = Code(0x800000D1);
constexpr Result errOBJECT_INCOMPATIBLE = Code(0x800000D4); ///< service object not here
constexpr Result errREMOTE_LOAD_FAILED = Code(0x800001C1);
constexpr Result errDELETE_ON_CLOSE_FAILED = Code(0x8000A001);
constexpr Result errIS_FOLDER = Code(0x8000A002);
constexpr Result errFLUSH_FAILED = Code(0x8000A003);

} // namespace zev::frame
