// wfsh: file commands carried out by the plug-in through the framework host.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zev::wfsh {

/// Runs one command line (without the program name); output goes to `out`,
/// messages to `err`. Returns the process exit code (0 success).
int Run(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err);

} // namespace zev::wfsh
