#include "foundation/registry.h"

#include <shlobj.h>

#include <stdexcept>
#include <vector>

#include "foundation/contract.h"
#include "foundation/unique.h"

namespace dormalis {

std::wstring installDirectoryOverride;

namespace {

constexpr DWORD MaxStringBytes = 65536;

UniqueKey createKey(HKEY root, const wchar_t* subkey) {
    UniqueKey key;
    LSTATUS status =
        RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) throw std::runtime_error("Registry create failed");
    return key;
}

void setValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    UniqueKey key = createKey(root, subkey);
    LSTATUS status = RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes);
    key.reset();
    if (status != ERROR_SUCCESS) throw std::runtime_error("Registry write failed");
}

}  // namespace

DWORD readDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    LSTATUS status = RegGetValueW(root, subkey, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes);
    return status == ERROR_SUCCESS && bytes == sizeof(value) ? value : fallback;
}

std::wstring readString(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& fallback) {
    std::vector<wchar_t> buffer(MaxStringBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = MaxStringBytes;  // bytes, not characters; one spare character keeps the text terminated
    LSTATUS status = RegGetValueW(root, subkey, name, RRF_RT_REG_SZ, nullptr, buffer.data(), &bytes);
    if (status != ERROR_SUCCESS) return fallback;
    return std::wstring(buffer.data());
}

void writeDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value) {
    setValue(root, subkey, name, REG_DWORD, &value, sizeof(value));
}

void writeString(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& value) {
    auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    setValue(root, subkey, name, REG_SZ, value.c_str(), bytes);
}

std::wstring folder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) {
        throw std::runtime_error("Folder unavailable");
    }
    return path;
}

std::wstring installDir() {
    if (!installDirectoryOverride.empty()) return installDirectoryOverride;
    std::wstring recorded = readString(HKEY_LOCAL_MACHINE, RegistryPath, InstallPathValue);
    if (!recorded.empty()) return recorded;
    return folder(CSIDL_PROGRAM_FILES) + L"\\DormalisNative";
}

}  // namespace dormalis
