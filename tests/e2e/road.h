#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/unique.h"
#include "testbed/testbed.h"

// What every step of the road needs: the installed programs, the service as Wine's service manager runs it,
// the simulated network as a line of text, saver starts as Windows makes them and the saver's overlay line.
namespace dormalis::testing {

using UniqueService = Unique<SC_HANDLE, &CloseServiceHandle>;

// The Windows screen-saver timeout the road sets, and the idle time after which "/s" cuts the network.
inline constexpr UINT SaverTimeoutSeconds = 3;
inline constexpr DWORD IdleThresholdMs = 10000;

std::wstring installedProgram();
std::wstring installedScreenSaver();

// Prints one line of the road's account, stamped with the seconds since the road began.
void say(const char* format, ...);
void sayLines(const std::vector<std::string>& lines, const char* indent);

bool serviceExists();
SERVICE_STATUS_PROCESS serviceStatus();
bool waitForService(DWORD state, DWORD timeoutMs);
void stopService();
// Starts the service and waits until it runs; its process ID, 0 on failure.
DWORD startService();
void killProcess(DWORD pid);

// The simulated network in one line: NetworkState, filtering objects, adapters and the recovery list.
std::string networkDescription(const std::vector<testbed::Adapter>& adapters);
bool adaptersIn(const std::vector<testbed::Adapter>& adapters, DWORD state);

// The Windows filtering layer a key names, when it is one of the four IP packet layers (FWPM_LAYER_INBOUND_IPPACKET_V4
// and its outbound and IPv6 partners); nullptr for any other layer.
const char* packetLayerName(const std::wstring& key);

// Waits until the desktop has been idle long enough that Windows' own "/s" start is the screen saver proper,
// not the preview that follows recent input.
void waitForIdleDesktop();
// Starts a saver program by its C: path with "/s", as Windows starts the selected screen saver.
UniqueHandle startSaverAsWindows(const std::wstring& path);

// What the full-screen saver's overlay line says, read from the X screen.
enum class Overlay { None, Warning, NoWarning };
const char* overlayName(Overlay overlay);
Overlay readOverlay();
// Polls the screen until the line reads `wanted`; the last reading.
Overlay waitForOverlay(Overlay wanted, DWORD timeoutMs);

// A top-level window of a class; with `owned`, one that has an owner (a page run modally by the settings window).
HWND findWindow(const wchar_t* className, bool owned);
HWND waitForWindow(const wchar_t* className, bool owned, DWORD timeoutMs);

}  // namespace dormalis::testing
