#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/settings.h"
#include "ui/ui.h"

namespace dormalis::testing {

// Class, instance and common controls, as the program's start-up prepares them.
void prepareUi();

// Ready for pages, in English; the settings are put back afterwards.
class EnglishUiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prepareUi();
        saved_ = settings;
        settings.language = 1;
    }
    void TearDown() override { settings = saved_; }
    Settings saved_;
};

// A page window made by createUi; destroyed (if still there) with the record.
struct OpenPage {
    std::unique_ptr<Ui> ui;
    explicit OpenPage(int page, HWND owner = nullptr);
    ~OpenPage();
    OpenPage(const OpenPage&) = delete;
    OpenPage& operator=(const OpenPage&) = delete;
    Ui& operator*() { return *ui; }
    Ui* operator->() { return ui.get(); }
};

// A hidden top-level window to own pages, so that their destruction does not post the quit message.
struct Owner {
    HWND window;
    Owner();
    ~Owner();
};

// Brings the page to `dpi` through WM_DPICHANGED and its window to a client area `widthDips` wide before any
// scroll bar (and `heightPx` high, when given), through the messages a user's resize sends.
void setGeometry(Ui& ui, int dpi, int widthDips, int heightPx = 0);

// Handles queued messages without blocking.
void pumpMessages();
// Removes a quit message left by a destroyed top window, so the next modal loop is not ended by it.
void dropQuit();

// The message box of this process with the caption `title`: waits for it, reads it and presses `button`.
struct SeenBox {
    bool found = false;
    std::wstring text;
    bool errorIcon = false;
    bool warningIcon = false;
    bool informationIcon = false;
};
class BoxAnswerer {
  public:
    explicit BoxAnswerer(const wchar_t* title = L"Dormalis", int button = IDOK, DWORD timeoutMs = 10000);
    ~BoxAnswerer();
    SeenBox result();  // joins

  private:
    std::thread thread_;
    SeenBox seen_;
};

// Waits for a page window owned by `owner` and posts it the commands, in order.
std::thread commandToPage(HWND owner, std::vector<int> ids, DWORD timeoutMs = 10000);

// A captured BMP, with its headers checked by the reader.
struct Image {
    int width = 0;
    int height = 0;
    std::int32_t heightField = 0;
    std::uint32_t fileSize = 0;
    std::uint16_t bitsPerPixel = 0;
    std::uint32_t pixelOffset = 0;
    std::vector<std::uint32_t> pixels;
    bool loaded = false;
    COLORREF at(int x, int y) const;
    int count(const RECT& area, COLORREF color) const;
};
Image readBmp(const std::wstring& path);
Image snapshot(Ui& ui);  // capture() into a temporary file, read back
std::wstring tempFile(const wchar_t* name);

}  // namespace dormalis::testing
