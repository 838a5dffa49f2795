#include "tests/support/support.h"

#include <stdexcept>

#include "foundation/constants.h"
#include "foundation/registry.h"

namespace dormalis::testing {

std::wstring buildFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L'\\'));
}

std::wstring quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

namespace {

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
        throw std::runtime_error("cannot start " + narrow(commandLine));
    }
    UniqueHandle thread{info.hThread};
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

DWORD serviceState() {
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return 0;
    UniqueService service(OpenServiceW(manager.get(), ServiceName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
    return status.dwCurrentState;
}

bool waitForServiceState(DWORD state, DWORD timeoutMs) {
    return waitUntil([state] { return serviceState() == state; }, timeoutMs);
}

}  // namespace dormalis::testing
