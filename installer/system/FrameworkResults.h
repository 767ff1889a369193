// Result codes of the product's component framework, as the installer's
// product connection and the product stand-ins exchange them. The numbers
// are the framework's own table (plugin/frame/ResultCodes.h); this header
// gives them the names the installer's connection code uses. Results are
// 32-bit; a negative value is a failure, so callers test the sign.
#pragma once

#include "plugin/frame/ResultCodes.h"

namespace velora {

using tERROR = zev::frame::Result;
using zev::frame::Failed;

using zev::frame::errOBJECT_BAD_STATE;
using zev::frame::errOBJECT_NOT_FOUND;
using zev::frame::errOK;
using zev::frame::errOPERATION_REFUSED;
using zev::frame::errPARAMETER_INVALID;
using zev::frame::errRECORD_TYPE_LENIENT;
using zev::frame::errREMOTE_LOAD_FAILED;
using zev::frame::errREMOTE_NOT_LOADED;
using zev::frame::errUNEXPECTED;
/// Nothing found or nothing answered (an unanswered message).
inline constexpr tERROR errNOT_ANSWERED = zev::frame::errNOT_FOUND;

} // namespace velora
