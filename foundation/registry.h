#pragma once

#include <windows.h>

#include <string>

namespace dormalis {

// When set (by the setup program), installDir() answers this folder instead of asking the registry.
extern std::wstring installDirectoryOverride;

// Readers never throw: a missing key or value, another type or a short value gives the fallback.
DWORD readDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD fallback);
std::wstring readString(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& fallback = {});

// Writers create the key when needed and throw "Registry create failed" or "Registry write failed".
void writeDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value);
void writeString(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& value);

// A shell folder by CSIDL number; throws "Folder unavailable".
std::wstring folder(int csidl);

// The installation folder: the override, else the machine's "InstallPath", else Program Files\DormalisNative.
std::wstring installDir();

}  // namespace dormalis
