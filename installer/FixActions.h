// Registry settings that earlier private fixes changed together with their
// patch package, keyed by the fix's patch identifier.
#pragma once

#include <windows.h>

#include <string>

#include <boost/shared_ptr.hpp>

namespace hotfixer {

class CCMDParser;

/// Where the actions' keys live: `root` plus `prefix` in front of each key
/// path. The product uses HKEY_LOCAL_MACHINE with no prefix; tests point it
/// at a scratch key.
struct FixActionRegistry {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::wstring prefix;
};

/// Runs the apply action of `patchId` ("hx104", "hx127", "hx266"), or does
/// nothing for any other identifier. A failing registry call raises
/// SystemError with the action's name.
void ApplyFixActions(const std::wstring& patchId, const boost::shared_ptr<CCMDParser>& parser,
                     const FixActionRegistry& registry = {});
/// Runs the rollback action of `patchId` ("hx104" only).
void RollbackFixActions(const std::wstring& patchId, const boost::shared_ptr<CCMDParser>& parser,
                        const FixActionRegistry& registry = {});

void ApplyHx104Actions(const CCMDParser& parser, const FixActionRegistry& registry = {});
void RollbackHx104Actions(const CCMDParser& parser, const FixActionRegistry& registry = {});
void ApplyHx127Actions(const FixActionRegistry& registry = {});
void ApplyHx266Actions(const FixActionRegistry& registry = {});

inline constexpr wchar_t kHx104Key[] =
    L"SOFTWARE\\RodozavEva\\protected\\ZED10\\profiles\\Protection"
    L"\\profiles\\Web_Monitoring\\profiles\\httpscan\\settings";
inline constexpr wchar_t kHx104Value[] = L"TimeLimit";
inline constexpr wchar_t kHx127Key[] =
    L"SOFTWARE\\RodozavEva\\protected\\ZED10\\policy\\subItems\\EntAppControl";
inline constexpr wchar_t kHx127Value[] = L"flags";
inline constexpr wchar_t kHx266Key[] = L"SOFTWARE\\RodozavEva\\protected\\ZED10\\mcou";
inline constexpr wchar_t kHx266Value[] = L"EnforceCheckOnReadDisabled";

} // namespace hotfixer
