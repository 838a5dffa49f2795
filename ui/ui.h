#pragma once

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/settings.h"
#include "foundation/unique.h"

namespace dormalis {

inline constexpr const wchar_t* UiClass = L"Dormalis.Native.Ui";

// Posted to rebuild a page once the notification that asked for it has returned.
inline constexpr UINT RebuildMessage = WM_APP + 1;
// Posted by a second start of the program to the window already open: wParam is the page it asked for.
inline constexpr UINT OpenPageMessage = WM_APP + 2;

// The narrowest a page window may be, in DIPs of 100 % text: larger text widens it in proportion.
inline constexpr int NarrowestPage = 450;

// Pages of the settings window.
inline constexpr int SetupPage = 0;
inline constexpr int CustomizePage = 1;
inline constexpr int ModePage = 2;
inline constexpr int AboutPage = 3;

// Child identifiers (107 is not used).
enum ControlId : int {
    EnableButton = 101,
    CustomizeButton = 102,
    DisableButton = 103,
    WindowsSettingsButton = 104,
    AboutButton = 105,  // the publisher button on the about page
    LanguageList = 106,
    SaveButton = 108,
    CancelButton = 109,  // also Close
    ContinueButton = 110,
    AdaptersRadio = 111,
    FirewallRadio = 112,
    ColorButton = 113,
    DensityBar = 114,
    SpeedBar = 115,
    ResetButton = 116,
    ModeButton = 117,
    CheckButton = 118,
    RestoreButton = 119,
    MinutesEdit = 120,
    DisplaysCombo = 121,
};

// A length of `dips` that holds text, grown by the text-size factor `text` and rounded up, in DIPs. Every window
// grows its text-holding lengths this one way.
inline int grownWithText(int dips, float text) {
    return static_cast<int>(std::ceil(dips * text));
}

// One painted text; the rectangle is in unscrolled pixels.
struct Label {
    RECT rect{};
    std::wstring caption;
    std::uint8_t font = 0;  // index into Ui::typefaces: 0 body, 1 title
    COLORREF color = RGB(44, 58, 78);
};

// A control's unscrolled pixel rectangle.
struct Box {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// One per page window, living on the stack of the function that created the window.
struct Ui {
    HWND window = nullptr;
    int page = SetupPage;
    float scale = 1.0f;
    float text = 1.0f;  // Windows' text size, taken by fonts()
    int scroll = 0;
    int contentHeight = 0;
    UniqueFont typefaces[2];  // 0 body, 1 title; remade by fonts()
    UniqueFont retired[2];    // the fonts live controls still hold until the next layout replaces them
    std::vector<HWND> controls;
    std::vector<Box> rects;
    std::vector<Label> labels;
    RECT card{};
    int headerBottom = 0;
    bool installed = false;         // the card's colours: the service running, no failed pause on record
    std::wstring status;            // what the status card says
    ULONGLONG statusCheckedAt = 0;  // when it was last compared with the machine
    unsigned minutes = 10;
    bool minutesEdited = false;
    int result = 0;
    Settings saved = settings;
    bool layingOut = false;
    int focusId = 0;    // the control that had the keyboard focus, given it back after a rebuild or activation
    int wheelRest = 0;  // wheel delta short of a whole notch, so small touchpad steps add up
    bool languagePending = false;  // a language chosen in the open list, shown when the list closes

    Ui() = default;
    explicit Ui(int firstPage) : page(firstPage) {}
    Ui(const Ui&) = delete;
    Ui& operator=(const Ui&) = delete;

    void layout();
    void fonts();
    void fitHeight();
    int label(const std::wstring& text, int x, int y, int width, bool title);
    void named(const Label& text);
    HWND add(const wchar_t* className, const std::wstring& text, int id, int x, int y, int width, int height,
             unsigned long style);
    // A DIP length in pixels, truncated.
    int px(double dips) const { return static_cast<int>(dips * scale); }
    // A length in DIPs that holds a line of text, grown with the text size.
    int tx(int dips) const { return grownWithText(dips, text); }
    HWND control(int id) const { return window ? GetDlgItem(window, id) : nullptr; }
};

// Creates, lays out and fits the page window of `ui`; null when the window cannot be created.
HWND createUi(Ui& ui, HWND owner);

// Remembers which control has the focus (true when one of this window's has it) and gives it back.
bool rememberFocus(Ui& ui);
void restoreFocus(Ui& ui);

// Builders of each page's content below the header (pages.cpp), in DIPs: the setup page takes the header's
// height, the others the content's top; each returns the bottom of its content.
int layoutSetupPage(Ui& ui, int width, int headerHeight);
int layoutCustomizePage(Ui& ui, int width, int top);
int layoutModePage(Ui& ui, int width, int top);
int layoutAboutPage(Ui& ui, int width, int top);
// Whether the setup page's status card no longer says what is true.
bool statusStale(const Ui& ui);

// Window (window.cpp).
int showPage(HWND owner, int page);
LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
LRESULT CALLBACK hoverProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);
void scrollTo(Ui& ui, int position);
// Hands a message to the dialog manager (Tab, the arrow keys, Enter, Escape); true when it was a dialog key. A
// control the keyboard moves the focus to out of sight is scrolled into view.
bool dialogMessage(HWND window, MSG& message);
// Compares the status card with the machine, at most once a second, and rebuilds the page when it is stale.
void refreshStatus(Ui& ui);
bool registerUiClass();

// Commands (commands.cpp): one WM_COMMAND, under the exception guard.
void command(Ui& ui, WPARAM wParam);

// Painting (paint.cpp).
LRESULT eraseBackground(Ui& ui, HDC dc);
void paintPage(Ui& ui, HDC dc);
LRESULT controlColors(HDC dc);
void measureItem(Ui& ui, MEASUREITEMSTRUCT& item);
void drawItem(Ui& ui, const DRAWITEMSTRUCT& item);
void flag(HDC dc, RECT area, int language);
// Where an owner-drawn button of rectangle `item` draws its caption.
RECT buttonTextArea(float scale, RECT item);

// Palette.
inline constexpr COLORREF BackgroundColor = RGB(246, 248, 252);
inline constexpr COLORREF HeaderColor = RGB(232, 240, 251);
inline constexpr COLORREF AccentColor = RGB(146, 179, 220);
inline constexpr COLORREF CardInstalledFill = RGB(230, 244, 237);
inline constexpr COLORREF CardInstalledBorder = RGB(186, 218, 202);
inline constexpr COLORREF CardMissingFill = RGB(251, 244, 229);
inline constexpr COLORREF CardMissingBorder = RGB(228, 211, 178);
inline constexpr COLORREF LabelColor = RGB(44, 58, 78);
inline constexpr COLORREF VersionColor = RGB(83, 105, 133);
inline constexpr COLORREF StatusInstalledColor = RGB(32, 99, 77);
inline constexpr COLORREF StatusMissingColor = RGB(104, 78, 38);
inline constexpr COLORREF NoteColor = RGB(92, 107, 128);
inline constexpr COLORREF SystemControlText = RGB(34, 48, 70);
inline constexpr COLORREF ButtonText = RGB(27, 48, 68);
inline constexpr COLORREF FocusRingColor = RGB(0, 84, 166);
inline constexpr COLORREF ListSelected = RGB(220, 236, 252);
inline constexpr COLORREF ListPlain = RGB(255, 255, 255);
inline constexpr COLORREF ListText = RGB(25, 45, 70);

// Whether Windows shows a high-contrast theme: then everything the pages draw themselves takes the system colour of
// its role (window, window text, button face and text, highlight, grey text), flags and the icon excepted.
bool highContrast();
// Windows' "Text size" (Settings › Accessibility), 1 to 2.25: the factor the text of the settings and setup windows
// takes on top of the DPI.
float textScale();
// `own`, or the system colour `element` under a high-contrast theme.
COLORREF shown(COLORREF own, int element);

struct ButtonColors {
    COLORREF fill;
    COLORREF border;
};
ButtonColors buttonColors(int id);
// One rounded button in `colors`, its caption centred; lengths in DIPs times `scale`. The setup window draws its
// buttons with it too.
void drawRoundedButton(const DRAWITEMSTRUCT& item, ButtonColors colors, float scale);

// The header band of the setup's and the uninstaller's windows: accent strip, icon, product name and version. It is
// `leastHeight` DIPs high, more when large text needs it; frontEndHeaderBottom says where it ends, in pixels.
void paintFrontEndHeader(HWND window, HDC dc, float scale, HFONT title, HFONT body, int leastHeight);
int frontEndHeaderBottom(HWND window, float scale, HFONT title, HFONT body, int leastHeight);

// Snapshot (capture.cpp): the client area and its children as a 32-bit top-down BMP; silent on failure.
void capture(HWND window, const std::wstring& path);

// Inline texts in the current language (texts.cpp).
namespace uitext {
std::wstring description();
std::wstring installedLine();
std::wstring stoppedLine();
std::wstring enabledLine(bool enabled);
std::wstring idleCaption();
std::wstring displaysCaption();
std::wstring displayMode(int index);
std::wstring modePrefix();
std::wstring enable();
std::wstring disable();
std::wstring check();
std::wstring restore();
std::wstring uninstallNote();
std::wstring previewCaption();
std::wstring runtimeLine();
std::wstring publisher();
std::wstring disabledMessage();
std::wstring minutesWarning();
std::wstring restoreRequested();
std::wstring restoreFailed();
}  // namespace uitext

inline constexpr const wchar_t* ProductPage = L"https://dormalis.app";

}  // namespace dormalis
