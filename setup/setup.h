#pragma once

#include <string>
#include <vector>

namespace dormalis {

// How the setup was asked to run.
struct SetupOptions {
    bool quiet = false;
    bool firewall = true;
    bool modeGiven = false;  // --mode was on the command line
    std::wstring folder;     // empty: the current installation folder, or the default one
};

// The switches --quiet, --dir PATH and --mode firewall|adapters; false for anything else, a switch without its
// value, another mode or an empty folder.
bool parseSetupOptions(const std::vector<std::wstring>& arguments, SetupOptions& options);

// The installation without a window: the front end's exit code, the reason of a failure recorded.
int runQuiet(const SetupOptions& options);

// Writes the two programs carried by the setup to a private folder and installs them into installDir(): the result
// of installNative; a success removes the record of an earlier failure.
int installPayload(bool firewall);
// installPayload, then `firewall` recorded as the administrator's confirmed choice, as --mode records it.
int installChosenMode(bool firewall);

// Starts `program` through the desktop shell, as the signed-in user and never elevated; false when no desktop
// shell answers.
bool openAsSignedInUser(const std::wstring& program);

// The interactive setup, preset by `options`: the window until it is closed; the front end's exit code.
int runSetupWindow(const SetupOptions& options);

}  // namespace dormalis
