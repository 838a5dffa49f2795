#!/usr/bin/env python3
"""Measures what the tests catch: applies deliberate faults to the product one at a time, rebuilds, runs the
tests that should notice, and reports each fault as killed (a test failed) or survived (every test passed).

    python3 scripts/mutate.py [--build DIR] [--list] [NAME ...]

Run it from a clean checkout with the test packages installed (scripts/deps.sh); every fault is undone after its
run, also when the script is interrupted. The results go to standard output and to DIR/mutants.txt.
"""
import argparse
import os
import pathlib
import re
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent

SERVICE = "^service_"
SAVER = "^saver_"

# name, file, text as it stands, faulty text, tests (a CTest regex) expected to notice
MUTANTS = [
    ("session-end-keeps-block", "service/session.cpp",
     "void endSession(HANDLE pipe, Connection& connection) {\n    restore();",
     "void endSession(HANDLE pipe, Connection& connection) {", SERVICE),
    ("stop-keeps-block", "service/session.cpp",
     "        guardedPass(pipe, connection);\n    restore();", "        guardedPass(pipe, connection);", SERVICE),
    ("failed-pass-keeps-block", "service/session.cpp",
     "    if (mayBePaused) restore();", "", SERVICE),
    ("silence-limit-tenfold", "service/session.cpp",
     "SilenceLimitMs = 4000;", "SilenceLimitMs = 40000;", SERVICE),
    ("error-start-answers-ok", "service/session.cpp",
     "const char* reply = interrupted ? OkWord : ErrorWord;", "const char* reply = OkWord;", SERVICE),
    ("error-start-shown-blocked", "service/session.cpp",
     "setNetworkState(interrupted ? NetworkBlocked : NetworkError);", "setNetworkState(NetworkBlocked);", SERVICE),
    ("any-caller-accepted", "service/session.cpp",
     "    return spelled && sameFile(image, saver);", "    return sameFile(image, saver);", SERVICE),
    ("inactive-session-accepted", "service/session.cpp",
     "if (!sessionActive(session)) {", "if (false) {", SERVICE),
    ("missing-mode-means-adapters", "service/session.cpp",
     "FirewallValue, 1) != 0) {", "FirewallValue, 0) != 0) {",
     SERVICE),
    ("outbound-ipv6-open", "service/firewall.cpp",
     "    {0xa3b3ab6b, 0x3564, 0x488c, {0x91, 0x17, 0xf3, 0x4e, 0x82, 0x14, 0x27, 0x63}},  // outbound IPv6\n", "",
     SERVICE),
    ("filters-without-transaction-abort", "service/firewall.cpp",
     "        FwpmTransactionAbort0(engine);\n        restore();", "        FwpmTransactionAbort0(engine);",
     SERVICE),
    ("recovery-list-after-disable", "service/adapters.cpp",
     "    if (!recordDevices(devices)) {", "    if (!disableAll(devices, why) || !recordDevices(devices)) {", SERVICE),
    ("stopped-adapter-taken", "service/adapters.cpp",
     " != CR_SUCCESS || !(status & DN_STARTED)) return false;", " != CR_SUCCESS) return false;", SERVICE),
    ("entry-cleared-when-enable-fails", "service/journal.cpp",
     "if (CM_Enable_DevNode(node, 0) != CR_SUCCESS) return false;", "CM_Enable_DevNode(node, 0);", SERVICE),
    ("disconnect-does-not-restore", "service/host.cpp",
     "    return control == RestoreNowControl;", "    return false;", SERVICE + "|^status_system"),
    ("impostor-pipe-trusted", "saver/pipe_client.cpp",
     "return expected != 0 && server == expected;", "return true;", SAVER),
    ("late-connect", "saver/pipe_client.cpp",
     "if (now - saver.startTick < ConnectWindowMs) connect(saver);", "connect(saver);", SAVER),
    ("no-stop-word", "saver/pipe_client.cpp",
     "        writeWord(pipe.get(), StopWord);\n", "", SAVER + "|^service_"),
    ("error-reply-taken-as-ok", "saver/pipe_client.cpp",
     "saver.suspended = whole && std::string_view(reply, read) == OkWord;", "saver.suspended = true;", SAVER),
    ("exit-without-input-grace", "saver/saver_run.cpp",
     "return elapsed >= InputGraceMs && lastInput != start.lastInput;", "return lastInput != start.lastInput;",
     SAVER),
    ("no-closing-grace", "saver/saver_run.cpp",
     "if (!finished(CloseGraceMs)) TerminateProcess", "if (!finished(0)) TerminateProcess", SAVER),
    ("mouse-slack-ignored", "saver/saver_window.cpp",
     "std::abs(cursor.x - saver.startCursor.x) > MouseSlackPixels", "std::abs(cursor.x - saver.startCursor.x) >= 0",
     SAVER),
    ("density-unclamped", "foundation/settings.cpp",
     "density = clampSigned(userValue(L\"Density\", defaults.density), MinDensity, MaxDensity);",
     "density = static_cast<int>(userValue(L\"Density\", defaults.density));", "^foundation|^saver_tests|^ui_tests"),
    ("language-unclamped", "foundation/settings.cpp",
     "language = std::min<DWORD>(userValue(L\"Language\", defaults.language), 5);",
     "language = userValue(L\"Language\", defaults.language);", "^foundation|^ui_tests"),
    ("previous-saver-overwritten", "registration/saver_selection.cpp",
     "if (!isDormalisPath(selectedSaver())) rememberCurrentSaver();", "rememberCurrentSaver();", "^registration"),
    ("saver-stored-with-space", "registration/saver_selection.cpp",
     "SaverValue, launchablePath(path));", "SaverValue, path);", "^registration_system|^e2e"),
    ("unquoted-saver-path-split", "foundation/process.cpp",
     "for (const std::wstring& path : ownPaths) {", "for (const std::wstring& path : std::vector<std::wstring>{}) {",
     "^command_line"),
    ("secure-saver-lock-restores", "service/host.cpp",
     " && !lockUnderConnectedSaver(control, eventType, eventData)", "", SERVICE),
    ("any-session-lock-holds", "service/host.cpp",
     "return session != 0 && session == saverSession.load();", "return saverSession.load() != 0;", SERVICE),
    ("tray-gives-up-at-logon", "status/tray.cpp",
     "ERROR_ALREADY_EXISTS || !awaitService()", "ERROR_ALREADY_EXISTS || !serviceRunning()", "^status_system"),
    ("policy-saver-activated", "registration/saver_selection.cpp",
     "    refuseManagedSaver();\n    if (!modeConfigured()) {", "    if (!modeConfigured()) {", "^registration_system"),
    ("policy-timeout-overridden", "registration/saver_selection.cpp",
     "if (!policyValue(L\"ScreenSaveTimeOut\").empty()) {", "if (false) {", "^registration_system"),
    ("policy-selection-ignored", "registration/saver_selection.cpp",
     "const std::wstring selected = forced.empty() ? selectedSaver() : forced;",
     "const std::wstring selected = selectedSaver();",
     "^status_tests"),
    ("managed-saver-not-reported", "status/status_report.cpp",
     "if (saverPolicy() != SaverPolicy::None) return managedSaverLine();", "", "^status_tests"),
    ("managed-saver-not-on-card", "ui/pages.cpp",
     "saverPolicy() != SaverPolicy::None ? managedSaverLine()", "false ? managedSaverLine()", "^ui_tests"),
    ("enable-asks-mode-under-policy", "ui/commands.cpp",
     "    refuseManagedSaver();  // before the mode page", "    // before the mode page", "^ui_tests"),
    ("timeout-zero-accepted", "registration/saver_selection.cpp",
     "if (minutes == 0 || minutes > 240)", "if (minutes > 240)", "^registration|^command_line"),
    ("unsafe-ancestors-accepted", "install/folder_validation.cpp",
     "if (!ancestorsAreSafe(std::filesystem::path(path).parent_path().wstring()))", "if (false)", "^install"),
    ("non-empty-folder-accepted", "install/folder_validation.cpp",
     "if (entries != std::filesystem::directory_iterator{}) throw std::runtime_error(NotEmpty);", "", "^install"),
    ("creator-owner-trusted", "install/folder_validation.cpp",
     "if (!isTrusted(isCreatorOwner(grantee) ? owner : grantee)) return false;",
     "if (!isTrusted(grantee) && !isCreatorOwner(grantee)) return false;", "^install"),
    ("deny-entry-judged-as-grant", "install/folder_validation.cpp",
     "        if (isDenyEntry(header->AceType)) continue;\n", "", "^install"),
    ("claimed-folder-not-reopened", "install/install_folder.cpp",
     " || !sameIdentity(judged, current)) fail(CannotSecure);", ") fail(CannotSecure);", "^install"),
    ("uninstall-leaves-adapters-off", "install/uninstall.cpp",
     "        restoreListedAdapters();\n", "", "^install|^e2e"),
    ("service-state-not-shown", "status/status_report.cpp",
     "        status += serviceUnavailableText();", "", "^status"),
    ("pipe-buffers-128-bytes", "service/session.cpp",
     "PipeBufferBytes = 4096;", "PipeBufferBytes = 128;", "^service_tests"),
    ("engine-restart-unwatched", "service/session.cpp",
     "        watchFirewall(pipe, connection);\n", "", "^service_tests"),
    ("failed-close-never-released", "service/firewall.cpp",
     "    const DWORD rc = findSubLayerAfresh();", "    return false;\n    const DWORD rc = findSubLayerAfresh();",
     "^service_tests"),
    ("held-pause-keeps-failure-record", "service/session.cpp",
     "interrupted ? clearFailedPause() : recordFailedPause(mode, why);",
     "if (!interrupted) recordFailedPause(mode, why);", "^service_tests"),
    ("failed-pause-not-announced", "status/tray.cpp", "    showBalloon(failedPauseText());\n", "", "^status_tests"),
    ("card-green-after-failed-pause", "ui/pages.cpp",
     "ui.installed = running && lastFailedPause().time.empty();", "ui.installed = running;", "^ui_tests"),
    ("held-pipe-name-stops-service", "service/host.cpp",
     "    UniqueHandle pipe = claimControlPipe();",
     "    UniqueHandle pipe(createControlPipe());\n    if (!pipe) return report(SERVICE_STOPPED, 0, 0, 0);",
     "^service_system"),
    ("pipe-instances-for-users", "service/session.cpp", "(A;;0x12019b;;;IU)", "(A;;GRGW;;;IU)", "^service_tests"),
    ("zero-minutes-saved", "ui/commands.cpp",
     "if (ui.minutes < 1 || ui.minutes > 240) {", "if (ui.minutes > 240) {", "^ui_"),
    ("language-list-overlaps-label", "ui/pages.cpp",
     "LanguageList, x, y + caption,", "LanguageList, x, y + 6,", "^ui_"),
    ("minutes-box-ignores-text-size", "ui/pages.cpp",
     "MinutesEdit, 28, idleY + idle, 110, ui.tx(34),", "MinutesEdit, 28, idleY + idle, 110, 34,", "^ui_tests"),
    ("columns-ignore-text-size", "ui/pages.cpp", "return width >= ui.tx(796);", "return width >= 796;", "^ui_tests"),
    ("setup-buttons-ignore-text-size", "setup/setup_window.cpp",
     "return setup.px(setup.tx(ButtonHeight));", "return setup.px(ButtonHeight);", "^ui_tests"),
    ("setup-mode-choices-apart", "setup/setup_window.cpp",
     "addControl(setup, panel, L\"BUTTON\", text(\"setup.networkModeAdapters\"), radio, Adapters);\n    addControl(setup, panel, L\"STATIC\", text(\"setup.networkModeFirewallHint\"), SS_LEFT | WS_GROUP, FirewallHint);",
     "addControl(setup, panel, L\"STATIC\", text(\"setup.networkModeFirewallHint\"), SS_LEFT, FirewallHint);\n    addControl(setup, panel, L\"BUTTON\", text(\"setup.networkModeAdapters\"), radio, Adapters);",
     "^ui_tests"),
    ("uninstaller-narrow-under-large-text", "uninstall/uninstall_window.cpp", "width = window.tx(Width),",
     "width = Width,", "^ui_tests"),
    ("uninstaller-close-ignores-text-size", "uninstall/uninstall_window.cpp",
     "buttonHeight = window.tx(ButtonHeight);", "buttonHeight = ButtonHeight;", "^ui_tests"),
    ("escape-ignored-by-setup", "setup/setup_window.cpp",
     "if (id == Cancel || id == IDCANCEL) onClose(setup);", "if (id == Cancel) onClose(setup);", "^ui_tests"),
    ("snapshot-upside-down", "ui/capture.cpp",
     "put<std::int32_t>(out, -height);", "put<std::int32_t>(out, height);", "^ui_"),
    ("config-page-ignored", "main/command_line.cpp",
     "        role.page = 1;\n        role.hostWindow", "        role.hostWindow", "^command_line|^ui_system"),
    ("quiet-refusal-exits-0", "setup/setup.cpp",
     "        if (result != 0) return ExitFailed;", "        if (result != 0) return ExitSucceeded;", "^install_system"),
    ("two-columns-one-dip-late", "ui/pages.cpp", "return width >= ui.tx(796);", "return width >= ui.tx(797);",
     "^ui_tests"),
    ("two-columns-one-dip-early", "ui/pages.cpp", "return width >= ui.tx(796);", "return width >= ui.tx(795);",
     "^ui_tests"),
]


def run(command, log, **kwargs):
    log.write(f"$ {' '.join(command)}\n")
    log.flush()
    return subprocess.run(command, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT, **kwargs).returncode


def targets_of(tests, build):
    """The build targets behind the chosen tests: a test program is built by its own name, and every test may start
    the product's programs."""
    listed = subprocess.run(["ctest", "--test-dir", str(build), "-N", "-R", tests], cwd=ROOT, capture_output=True,
                            text=True).stdout
    names = re.findall(r"Test\s+#\d+: (\S+)", listed)
    known = subprocess.run(["ninja", "-C", str(build), "-t", "targets", "all"], capture_output=True, text=True).stdout
    targets = {line.split(":", 1)[0] for line in known.splitlines()}
    return ["Dormalis", "DormalisSetup", "Uninstall"] + [name for name in names if name in targets]


def try_mutant(mutant, build, log):
    name, file, before, after, tests = mutant
    path = ROOT / file
    original = path.read_text(encoding="utf-8")
    if original.count(before) != 1:
        return "stale", 0.0
    start = time.monotonic()
    try:
        path.write_text(original.replace(before, after), encoding="utf-8")
        if run(["cmake", "--build", str(build), "--target", *targets_of(tests, build)], log) != 0:
            return "stillborn", time.monotonic() - start
        # The first failing check decides; the rest of a test program need not run.
        env = dict(os.environ, SKIP_DEPS="1", BUILD_DIR=str(build), BUILD_TARGETS="Dormalis", GTEST_FAIL_FAST="1")
        code = run(["bash", "scripts/test.sh", "-R", tests, "--stop-on-failure", "--timeout", "120"], log, env=env)
        return ("survived" if code == 0 else "killed"), time.monotonic() - start
    finally:
        path.write_text(original, encoding="utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=str(ROOT / "build" / "mingw"))
    parser.add_argument("--list", action="store_true", help="list the faults and stop")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    chosen = [m for m in MUTANTS if not args.names or m[0] in args.names]
    unknown = set(args.names) - {m[0] for m in MUTANTS}
    if unknown:
        sys.exit(f"unknown fault: {', '.join(sorted(unknown))}")
    if args.list:
        for name, file, _, _, tests in chosen:
            print(f"{name:36} {file:34} {tests}")
        return
    build = pathlib.Path(args.build).resolve()
    # A stop from outside must still undo the fault in hand.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    subprocess.run(["cmake", "--preset", "mingw", "-B", str(build)], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build)], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    results = []
    with open(build / "mutants.log", "w", encoding="utf-8") as log:
        for mutant in chosen:
            outcome, seconds = try_mutant(mutant, build, log)
            results.append((mutant[0], outcome, seconds))
            print(f"{mutant[0]:36} {outcome:10} {seconds:6.0f} s", flush=True)
    # The last fault's build must not stay behind for the next user of the folder.
    subprocess.run(["cmake", "--build", str(build)], cwd=ROOT, stdout=subprocess.DEVNULL)
    killed = sum(1 for _, outcome, _ in results if outcome == "killed")
    summary = f"{killed} of {len(results)} killed"
    print(summary)
    with open(build / "mutants.txt", "w", encoding="utf-8") as out:
        out.writelines(f"{name} {outcome} {seconds:.0f}\n" for name, outcome, seconds in results)
        out.write(summary + "\n")
    return 0 if all(outcome in ("killed", "survived") for _, outcome, _ in results) else 1


if __name__ == "__main__":
    sys.exit(main())
