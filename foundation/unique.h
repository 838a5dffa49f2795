#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

namespace dormalis {

// Owns one handle-like value and closes it exactly once. NULL and INVALID_HANDLE_VALUE both count as empty,
// because Windows APIs use either as their failure value.
template <typename T, auto CloseFn>
class Unique {
  public:
    Unique() = default;
    explicit Unique(T value) : value_(value) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Unique() { reset(); }

    T get() const { return value_; }
    bool valid() const { return isValid(value_); }
    explicit operator bool() const { return valid(); }

    // Closes the current value first, so the address can be handed to a function that fills it.
    T* put() {
        reset();
        return &value_;
    }
    T release() { return std::exchange(value_, T{}); }
    void reset(T value = T{}) {
        T old = std::exchange(value_, value);
        if (isValid(old)) CloseFn(old);
    }

  private:
    static bool isValid(T value) { return value != T{} && reinterpret_cast<std::intptr_t>(value) != -1; }
    T value_{};
};

using UniqueHandle = Unique<HANDLE, &CloseHandle>;
using UniqueKey = Unique<HKEY, &RegCloseKey>;
using UniqueLocal = Unique<HLOCAL, &LocalFree>;
using UniqueIcon = Unique<HICON, &DestroyIcon>;
using UniqueMenu = Unique<HMENU, &DestroyMenu>;
using UniqueDc = Unique<HDC, &DeleteDC>;
using UniqueService = Unique<SC_HANDLE, &CloseServiceHandle>;
using UniqueSid = Unique<PSID, &FreeSid>;  // a SID from AllocateAndInitializeSid

// A COM interface pointer, released once.
template <typename I>
void releaseInterface(I* object) {
    object->Release();
}
template <typename I>
using UniqueCom = Unique<I*, &releaseInterface<I>>;

template <typename G>
using UniqueGdi = Unique<G, &DeleteObject>;
using UniqueBitmap = UniqueGdi<HBITMAP>;
using UniqueBrush = UniqueGdi<HBRUSH>;
using UniquePen = UniqueGdi<HPEN>;
using UniqueFont = UniqueGdi<HFONT>;
using UniqueRegion = UniqueGdi<HRGN>;

// Selects a GDI object into a DC and puts the previous one back.
class SelectionGuard {
  public:
    SelectionGuard(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    SelectionGuard(const SelectionGuard&) = delete;
    SelectionGuard& operator=(const SelectionGuard&) = delete;
    ~SelectionGuard() {
        if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
    }

  private:
    HDC dc_;
    HGDIOBJ old_;
};

// GetDC/ReleaseDC pair: the window is needed again to release.
class WindowDc {
  public:
    explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ReleaseDC(hwnd_, dc_);
    }
    HDC get() const { return dc_; }

  private:
    HWND hwnd_;
    HDC dc_;
};

// BeginPaint/EndPaint pair.
class PaintDc {
  public:
    explicit PaintDc(HWND hwnd) : hwnd_(hwnd) { dc_ = BeginPaint(hwnd, &paint_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    ~PaintDc() { EndPaint(hwnd_, &paint_); }
    HDC get() const { return dc_; }
    const PAINTSTRUCT& paint() const { return paint_; }

  private:
    HWND hwnd_;
    PAINTSTRUCT paint_{};
    HDC dc_{};
};

// Runs a one-off undo when the scope ends, unless dismissed.
template <typename F>
class ScopeExit {
  public:
    explicit ScopeExit(F fn) : fn_(std::move(fn)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (armed_) fn_();
    }
    void dismiss() { armed_ = false; }

  private:
    F fn_;
    bool armed_ = true;
};

}  // namespace dormalis
