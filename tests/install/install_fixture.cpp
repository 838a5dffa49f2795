#include "tests/install/install_fixture.h"

#include <tlhelp32.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "foundation/constants.h"
#include "foundation/unique.h"
#include "tests/support/support.h"

namespace dormalis::testing {

namespace {

using UniqueServiceHandle = Unique<SC_HANDLE, &CloseServiceHandle>;

void deleteService(SC_HANDLE manager, const wchar_t* name) {
    UniqueServiceHandle service{OpenServiceW(manager, name, SERVICE_ALL_ACCESS)};
    if (!service) return;
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 100; ++i) {
        if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED) break;
        Sleep(50);
    }
    DeleteService(service.get());
}

std::wstring imageOf(DWORD processId) {
    UniqueHandle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId)};
    if (!process) return {};
    std::vector<wchar_t> buffer(32768);
    DWORD length = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &length)) return {};
    return std::wstring(buffer.data(), length);
}

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() &&
           CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// A service that hung at start, or an uninstaller copy, must not outlive the test that made it.
void endInstalledProcesses() {
    UniqueHandle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        const std::wstring image = imageOf(entry.th32ProcessID);
        if (!startsWith(image, DefaultFolder + L"\\") && image.find(L"\\Dormalis-Uninstall-") == std::wstring::npos) {
            continue;
        }
        UniqueHandle process{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)};
        if (process && TerminateProcess(process.get(), 99)) WaitForSingleObject(process.get(), 5000);
    }
}

}  // namespace

ScratchFolder::ScratchFolder(std::wstring folder) : path(std::move(folder)) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path), ignored);
    std::filesystem::create_directories(std::filesystem::path(path));
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path), ignored);
}

void removeInstallation() {
    {
        UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
        if (manager) {
            deleteService(manager.get(), ServiceName);
            deleteService(manager.get(), L"DormalisService");
        }
    }
    endInstalledProcesses();
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(DefaultFolder), ignored);
    DeleteFileW(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Dormalis.lnk");
    deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
    deleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey);
    HKEY run = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_SET_VALUE,
                      &run) == ERROR_SUCCESS) {
        RegDeleteValueW(run, ServiceName);
        RegCloseKey(run);
    }
}

CleanMachine::CleanMachine() {
    removeInstallation();
}

CleanMachine::~CleanMachine() {
    removeInstallation();
}

void registerStandInService(const std::wstring& commandLine, const wchar_t* name) {
    UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    UniqueServiceHandle service{CreateServiceW(manager.get(), name, L"Dormalis", SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                               commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)};
    if (!service) throw std::runtime_error("cannot register the stand-in service");
}

}  // namespace dormalis::testing

namespace dormalis::testing {

UniqueHandle ordinaryUserToken() {
    UniqueHandle own;
    OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, own.put());
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             &administrators);
    SID_AND_ATTRIBUTES disabled{administrators, 0};
    UniqueHandle restricted;
    const BOOL made =
        CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 1, &disabled, 0, nullptr, 0, nullptr, restricted.put());
    FreeSid(administrators);
    if (!made) throw std::runtime_error("cannot make an ordinary user's token");
    return restricted;
}

UniqueHandle startAsOrdinaryUser(const std::wstring& commandLine, HANDLE job) {
    UniqueHandle restricted = ordinaryUserToken();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    std::wstring line = commandLine;
    if (!CreateProcessAsUserW(restricted.get(), nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                              nullptr, nullptr, &startup, &started)) {
        throw std::runtime_error("cannot start as an ordinary user");
    }
    if (job) AssignProcessToJobObject(job, started.hProcess);
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    return UniqueHandle{started.hProcess};
}

std::string answerBox(const std::wstring& title, DWORD timeoutMs, int button) {
    ProcessResult found = driver(L"find #32770 " + quoted(title) + L" " + std::to_wstring(timeoutMs), timeoutMs + 5000);
    if (found.exitCode != 0) return "<no box>";
    ProcessResult read = driver(L"message-box " + quoted(title) + L" 1000");
    driver(L"press " + quoted(title) + L" " + std::to_wstring(button));
    // The next box of the same title must not be mistaken for this one.
    driver(L"wait-gone " + widen(found.output) + L" 10000", 15000);
    return read.output;
}

BoxedRun runAnsweringBox(const std::wstring& commandLine, const std::wstring& title, DWORD timeoutMs) {
    UniqueHandle process = startProcess(commandLine);
    BoxedRun run;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
        ProcessResult found = driver(L"message-box " + quoted(title) + L" 200", 10000);
        if (found.exitCode == 0) {
            run.box = found.output;
            driver(L"press " + quoted(title) + L" 1");
            break;
        }
    }
    const ULONGLONG now = GetTickCount64();
    run.exitCode = finishProcess(process.get(), now < deadline ? static_cast<DWORD>(deadline - now) : 1000);
    return run;
}

}  // namespace dormalis::testing
