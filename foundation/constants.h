#pragma once

namespace dormalis {

inline constexpr const wchar_t* Product = L"Dormalis";
inline constexpr const wchar_t* ErrorTitle = L"Dormalis Native";
inline constexpr const wchar_t* RegistryPath = L"SOFTWARE\\DormalisNative";
inline constexpr const wchar_t* ServiceName = L"DormalisNative";
inline constexpr const wchar_t* PipeName = L"\\\\.\\pipe\\Dormalis.Native.Control";
inline constexpr const wchar_t* Journal = L"SOFTWARE\\DormalisNative\\Recovery";
inline constexpr const wchar_t* UninstallKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\DormalisNative";
inline constexpr const wchar_t* Version = L"1.0.0";

}  // namespace dormalis
