// The patch job: where the product and its patches live.
#pragma once

#include <string>

namespace hotfixer {

/// The product folder from the value "ProductRoot", always ending in "\"
/// or "/". Raises SystemError with "GetProductFolder" when unreadable.
std::wstring GetProductFolder();
/// The product folder followed by "Patches".
std::wstring GetPatchesFolder(const std::wstring& productFolder);

} // namespace hotfixer
