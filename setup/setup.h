#pragma once

#include <string>

namespace dormalis {

// How the setup was asked to run.
struct SetupOptions {
    bool quiet = false;
    bool firewall = true;
    std::wstring folder;  // empty: the current installation folder, or the default one
};

// Writes the two programs carried by the setup to a private folder and installs them into installDir(); the
// result of installNative.
int installPayload(bool firewall);

// The interactive setup: the window until it is closed; 0 when an installation succeeded.
int runSetupWindow();

}  // namespace dormalis
