// Printing to the program's standard output.
#pragma once

namespace hotfixer {

/// Wide formatted printing to standard output with the Windows runtime's
/// conventions ("%s" wide text, "%S" narrow text). Use this rather than
/// wprintf, which the C++ runtime here maps to the ISO conventions.
void ConsolePrint(const wchar_t* format, ...);

} // namespace hotfixer
