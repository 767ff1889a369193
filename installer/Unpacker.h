// Writes the patch package embedded in the program's own resources out to
// a file.
#pragma once

#include <string>

namespace hotfixer {

class CUnpacker {
public:
    /// Writes the "PATCHDATA" 101 resource of the running program to
    /// `destination` byte for byte, replacing an existing file. Raises
    /// SystemError("CUnpacker::ExtractResourceToFile") with the failing
    /// step's Windows code.
    static void ExtractResourceToFile(const std::wstring& destination);
};

} // namespace hotfixer
