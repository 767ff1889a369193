// Registration of the plug-in's three interfaces with the framework.
#pragma once

#include "plugin/frame/FrameworkApi.h"

namespace zev::wfsys {

/// Each registers its interface with the values of RegistrationValues.h and
/// its tables, tracing a failure at level 200 before returning it.
frame::Result RegisterOs();
frame::Result RegisterObjPtr();
frame::Result RegisterIo();

} // namespace zev::wfsys
