#include "tests/install/install_fixture.h"

#include <tlhelp32.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "foundation/constants.h"
#include "foundation/process.h"
#include "foundation/unique.h"

namespace dormalis::testing {

namespace {

void deleteService(SC_HANDLE manager, const wchar_t* name) {
    UniqueService service{OpenServiceW(manager, name, SERVICE_ALL_ACCESS)};
    if (!service) return;
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    waitUntil([&] { return QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED; },
              5000);
    DeleteService(service.get());
}

// A service that hung at start, or an uninstaller copy, must not outlive the test that made it.
void endInstalledProcesses() {
    UniqueHandle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const std::wstring prefix = DefaultFolder + L"\\";
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        UniqueHandle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                         entry.th32ProcessID)};
        const std::wstring image = process ? imagePath(process.get()) : std::wstring();
        const bool installed = image.size() > prefix.size() &&
                               CompareStringOrdinal(image.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                                    static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
        if (!installed && image.find(L"\\Dormalis-Uninstall-") == std::wstring::npos) continue;
        if (TerminateProcess(process.get(), 99)) WaitForSingleObject(process.get(), 5000);
    }
}

}  // namespace

void removeInstallation() {
    if (UniqueService manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)}) {
        deleteService(manager.get(), ServiceName);
        deleteService(manager.get(), L"DormalisService");
    }
    endInstalledProcesses();
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(DefaultFolder), ignored);
    DeleteFileW(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Dormalis.lnk");
    deleteKeyTree(HKEY_LOCAL_MACHINE, RegistryPath);
    deleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", ServiceName);
}

void registerStandInService(const std::wstring& commandLine, const wchar_t* name) {
    UniqueService manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    UniqueService service{CreateServiceW(manager.get(), name, L"Dormalis", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)};
    if (!service) throw std::runtime_error("cannot register the stand-in service");
}

UniqueHandle ordinaryUserToken() {
    UniqueHandle own;
    OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, own.put());
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             administrators.put());
    SID_AND_ATTRIBUTES disabled{administrators.get(), 0};
    UniqueHandle restricted;
    if (!CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 1, &disabled, 0, nullptr, 0, nullptr,
                               restricted.put())) {
        throw std::runtime_error("cannot make an ordinary user's token");
    }
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
    AssignProcessToJobObject(job, started.hProcess);
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

}  // namespace dormalis::testing
