#include "tests/support/support.h"

#include <stdexcept>
#include <vector>

#include "foundation/constants.h"
#include "foundation/failure.h"
#include "foundation/registry.h"

namespace dormalis::testing {

std::wstring buildFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L'\\'));
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

std::wstring quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

namespace {

// Every process this test program started, so that a start that fails can tell which of them still run.
struct Started {
    UniqueHandle process;
    std::wstring commandLine;
};
std::vector<Started> started;

std::wstring programOf(const std::wstring& commandLine) {
    if (commandLine.starts_with(L"\"")) return commandLine.substr(1, commandLine.find(L'"', 1) - 1);
    return commandLine.substr(0, commandLine.find(L' '));
}

// What a failed start needs to be understood: the error, whether the file could be opened the way the loader
// opens it at that moment, and the test's own processes still running.
std::string startFailure(const std::wstring& commandLine, DWORD error) {
    std::string report = "cannot start " + narrow(commandLine) + ": " + narrow(errorText(error));
    const std::wstring program = programOf(commandLine);
    const DWORD attributes = GetFileAttributesW(program.c_str());
    report += attributes == INVALID_FILE_ATTRIBUTES ? "; the file does not exist" : "; the file exists";
    UniqueHandle image{CreateFileW(program.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr)};
    report += image ? ", opens for execution" : ", does not open for execution: " + narrow(errorText(GetLastError()));
    for (const Started& earlier : started) {
        if (WaitForSingleObject(earlier.process.get(), 0) == WAIT_TIMEOUT) {
            report += "; still running: " + std::to_string(GetProcessId(earlier.process.get())) + " " +
                      narrow(earlier.commandLine);
        }
    }
    return report;
}

// The started process; its thread handle is not needed.
UniqueHandle launch(const std::wstring& commandLine, HANDLE output) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    std::wstring mutableLine = commandLine;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &startup,
                        &info)) {
        throw std::runtime_error(startFailure(commandLine, GetLastError()));
    }
    UniqueHandle thread{info.hThread};
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), info.hProcess, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
    started.push_back({UniqueHandle{copy}, commandLine});
    return UniqueHandle{info.hProcess};
}

}  // namespace

UniqueHandle startProcess(const std::wstring& commandLine) {
    return launch(commandLine, nullptr);
}

UniqueHandle ordinaryUserToken() {
    UniqueHandle own, restricted;
    OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, own.put());
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             administrators.put());
    SID_AND_ATTRIBUTES disabled{administrators.get(), 0};
    if (!CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 1, &disabled, 0, nullptr, 0, nullptr,
                               restricted.put()))
        throw std::runtime_error("cannot make an ordinary user's token");
    return restricted;
}

UniqueHandle startAsOrdinaryUser(const std::wstring& commandLine, HANDLE job) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessAsUserW(ordinaryUserToken().get(), nullptr, mutableLine.data(), nullptr, nullptr, FALSE,
                              CREATE_SUSPENDED, nullptr, nullptr, &startup, &started))
        throw std::runtime_error("cannot start as an ordinary user " + narrow(commandLine));
    UniqueHandle process{started.hProcess}, thread{started.hThread};
    AssignProcessToJobObject(job, process.get());
    ResumeThread(thread.get());
    return process;
}

DWORD processesOf(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting), nullptr);
    return accounting.TotalProcesses;
}

DWORD finishProcess(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, STILL_ACTIVE);
        WaitForSingleObject(process, 5000);
        return STILL_ACTIVE;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

ProcessResult runProcess(const std::wstring& commandLine, DWORD timeoutMs) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueHandle process = launch(commandLine, writeEnd.get());
    writeEnd.reset();

    ProcessResult result;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const bool ended = WaitForSingleObject(process.get(), 20) == WAIT_OBJECT_0;
        // Everything written so far, also just before the process ended.
        DWORD available = 0, read = 0;
        while (PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            std::string chunk(available, '\0');
            if (!ReadFile(readEnd.get(), chunk.data(), available, &read, nullptr)) break;
            result.output.append(chunk, 0, read);
        }
        if (ended) {
            result.finished = true;
            GetExitCodeProcess(process.get(), &result.exitCode);
            return result;
        }
        if (GetTickCount64() > deadline) return finishProcess(process.get(), 0), result;
    }
}

ProcessResult driver(const std::wstring& arguments, DWORD timeoutMs) {
    ProcessResult result = runProcess(quoted(buildFolder() + L"\\test_driver.exe") + L" " + arguments, timeoutMs);
    while (!result.output.empty() && (result.output.back() == '\n' || result.output.back() == '\r')) {
        result.output.pop_back();
    }
    return result;
}

void deleteKeyTree(HKEY root, const wchar_t* subkey) {
    RegDeleteTreeW(root, subkey);
    RegDeleteKeyW(root, subkey);
}

std::wstring widen(const std::string& utf8) {
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string narrow(const std::wstring& text) {
    int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(10);
    }
}

DWORD machineDword(const wchar_t* name, DWORD fallback) {
    return readDword(HKEY_LOCAL_MACHINE, RegistryPath, name, fallback);
}

std::wstring machineString(const wchar_t* name, const std::wstring& fallback) {
    return readString(HKEY_LOCAL_MACHINE, RegistryPath, name, fallback);
}

void setMachineDword(const wchar_t* name, DWORD value) {
    writeDword(HKEY_LOCAL_MACHINE, RegistryPath, name, value);
}

void deleteMachineValue(const wchar_t* name) {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RegistryPath, name);
}

UniqueService openService(DWORD access, const wchar_t* name) {
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return UniqueService(manager ? OpenServiceW(manager.get(), name, access) : nullptr);
}

SERVICE_STATUS_PROCESS serviceStatus() {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    UniqueService service = openService(SERVICE_QUERY_STATUS);
    if (service)
        QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &needed);
    return status;
}

DWORD serviceState() {
    return serviceStatus().dwCurrentState;
}

void removeService(const wchar_t* name) {
    UniqueService service = openService(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE, name);
    if (!service) return;
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    waitUntil([&] { return QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED; },
              10000);
    DeleteService(service.get());
}

bool waitForServiceState(DWORD state, DWORD timeoutMs) {
    return waitUntil([state] { return serviceState() == state; }, timeoutMs);
}

}  // namespace dormalis::testing
