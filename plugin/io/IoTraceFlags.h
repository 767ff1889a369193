// Names of the access, share, creation and flag values in the open's trace
// lines (the framework's "%tflags" and "%tenum" directives).
#pragma once

#include <cstdint>

namespace zev::wfsys {

const char* NameAccessFlag(std::uint32_t value);
const char* NameShareFlag(std::uint32_t value);
const char* NameCreation(std::uint32_t value);
const char* NameFileFlag(std::uint32_t value);

} // namespace zev::wfsys
