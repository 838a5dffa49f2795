#include "main/command_line.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <cwctype>

namespace dormalis {

namespace {

struct ExactSwitch {
    const wchar_t* text;
    RoleKind kind;
};

// Compared in this order, whole and case-sensitive; "--set-timeout" needs its value and is handled apart.
constexpr ExactSwitch exactSwitches[] = {
    {L"--tray", RoleKind::Tray},
    {L"--restore-network", RoleKind::RestoreNetwork},
    {L"--service", RoleKind::Service},
    {L"--mode-firewall", RoleKind::ModeFirewall},
    {L"--mode-adapters", RoleKind::ModeAdapters},
    {L"--activate", RoleKind::Activate},
    {L"--deactivate", RoleKind::Deactivate},
    {L"--uninstall", RoleKind::Uninstall},
    {L"--diagnostics", RoleKind::Diagnostics},
    {L"--preview", RoleKind::Preview},
    {L"--preview-test", RoleKind::PreviewTest},
    {L"--network-test", RoleKind::NetworkTest},
};

// Reads a decimal the way _wtoi does (no digits gives 0), but saturates instead of overflowing.
int toInt(const std::wstring& text) {
    long value = std::wcstol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

std::wstring lowerCased(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::uint64_t embeddingHost(const std::wstring& lowered, const std::vector<std::wstring>& arguments) {
    size_t colon = lowered.find(L':');
    if (colon != std::wstring::npos) return std::wcstoull(lowered.c_str() + colon + 1, nullptr, 10);
    if (arguments.size() > 1) return std::wcstoull(arguments[1].c_str(), nullptr, 10);
    return 0;
}

Role settingsWindow(const std::wstring& lowered, const std::vector<std::wstring>& arguments) {
    Role role;
    if (lowered.starts_with(L"/c")) {
        role.page = 1;
        role.hostWindow = embeddingHost(lowered, arguments);
    }
    if (arguments[0] == L"--ui-test" && arguments.size() >= 4) {
        role.uiTest = true;
        role.uiTestLanguage = static_cast<unsigned>(std::clamp(toInt(arguments[1]), 0, 5));
        role.page = std::clamp(toInt(arguments[2]), 0, 3);
        role.snapshotPath = arguments[3];
    }
    return role;
}

}  // namespace

Role chooseRole(const std::vector<std::wstring>& arguments) {
    const std::vector<std::wstring> padded = arguments.empty() ? std::vector<std::wstring>{L""} : arguments;
    const std::wstring& switchText = padded[0];
    Role role;
    for (const ExactSwitch& candidate : exactSwitches) {
        if (switchText != candidate.text) continue;
        role.kind = candidate.kind;
        return role;
    }
    if (switchText == L"--set-timeout" && padded.size() > 1) {
        role.kind = RoleKind::SetTimeout;
        role.timeoutMinutes = static_cast<unsigned>(toInt(padded[1]));
        return role;
    }
    const std::wstring lowered = lowerCased(switchText);
    if (lowered.starts_with(L"/p")) {
        role.kind = RoleKind::EmbeddedPreview;
        role.hostWindow = embeddingHost(lowered, padded);
        return role;
    }
    if (lowered == L"/s") {
        role.kind = RoleKind::ScreenSaver;
        return role;
    }
    return settingsWindow(lowered, padded);
}

DWORD saverPreviewThresholdMs(bool timeoutKnown, UINT timeoutSeconds) {
    const long long seconds = timeoutKnown ? static_cast<long long>(timeoutSeconds) : 600;
    return static_cast<DWORD>(std::min(std::max(seconds - 2, 10LL) * 1000, 0xFFFFFFFFLL));
}

bool saverStartIsPreview(DWORD idleMs, DWORD thresholdMs) {
    return idleMs < thresholdMs;
}

}  // namespace dormalis
