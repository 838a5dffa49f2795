#include "install/shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <stdexcept>

namespace dormalis {

namespace {

template <typename T>
struct ComRelease {
    T* object = nullptr;
    ComRelease() = default;
    ComRelease(const ComRelease&) = delete;
    ComRelease& operator=(const ComRelease&) = delete;
    ~ComRelease() {
        if (object) object->Release();
    }
};

}  // namespace

void createShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingFolder) {
    ComRelease<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link.object)))) {
        throw std::runtime_error("Cannot create Start menu shortcut.");
    }
    link.object->SetPath(target.c_str());
    link.object->SetWorkingDirectory(workingFolder.c_str());
    link.object->SetIconLocation(target.c_str(), 0);
    ComRelease<IPersistFile> file;
    if (FAILED(link.object->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.object)))) {
        throw std::runtime_error("Cannot save Start menu shortcut.");
    }
    if (FAILED(file.object->Save(linkPath.c_str(), TRUE))) throw std::runtime_error("Cannot save Start menu shortcut.");
}

}  // namespace dormalis
