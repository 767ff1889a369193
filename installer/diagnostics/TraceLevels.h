// Trace levels of the installer: lower is more important.
#pragma once

namespace hotfixer {

inline constexpr int kTraceAlways = 0;
inline constexpr int kTraceFatal = 100;
inline constexpr int kTraceDanger = 200;
inline constexpr int kTraceError = 300;
inline constexpr int kTraceWarning = 350;
inline constexpr int kTraceImportant = 400;
inline constexpr int kTraceNotify = 500;
inline constexpr int kTraceNoise = 600;
inline constexpr int kTraceSpam = 700;
inline constexpr int kTraceAnnoying = 800;
inline constexpr int kTraceFfr = 900;

} // namespace hotfixer
