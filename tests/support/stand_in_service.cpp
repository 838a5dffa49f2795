#include "tests/support/stand_in_service.h"

#include <windows.h>

#include <stdexcept>

#include "foundation/constants.h"
#include "foundation/registry.h"
#include "foundation/unique.h"
#include "tests/support/support.h"

namespace dormalis::testing {

namespace {

constexpr const wchar_t* RecordKey = L"SOFTWARE\\DormalisTestService";

}  // namespace

TestService::TestService() {
    removeService();  // a service left by an interrupted run
    waitUntilServiceGone();
    deleteKeyTree(HKEY_LOCAL_MACHINE, RecordKey);
    UniqueService scm{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE)};
    const std::wstring command = quoted(buildFolder() + L"\\dormalis_test_service.exe");
    UniqueService service{CreateServiceW(scm.get(), ServiceName, L"Dormalis test stand-in", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)};
    if (!service) throw std::runtime_error("cannot register the test service");
}

TestService::~TestService() {
    removeService();
    waitUntilServiceGone();
    deleteKeyTree(HKEY_LOCAL_MACHINE, RecordKey);
}

void TestService::start() {
    UniqueService service = openService(SERVICE_ALL_ACCESS);
    if (!service || !StartServiceW(service.get(), 0, nullptr))
        throw std::runtime_error("cannot start the test service");
    if (!waitForServiceState(SERVICE_RUNNING, 10000)) throw std::runtime_error("test service did not run");
}

void TestService::stop() {
    UniqueService service = openService(SERVICE_ALL_ACCESS);
    SERVICE_STATUS status{};
    if (!service || !ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        throw std::runtime_error("cannot stop the test service");
    }
    if (!waitForServiceState(SERVICE_STOPPED, 10000)) throw std::runtime_error("test service did not stop");
}

void* TestService::pipe() {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RecordKey, L"Pipe");
    writeDword(HKEY_LOCAL_MACHINE, RecordKey, L"Requester", GetCurrentProcessId());
    UniqueService service = openService(SERVICE_USER_DEFINED_CONTROL);
    SERVICE_STATUS status{};
    if (!service || !ControlService(service.get(), 129, &status)) return INVALID_HANDLE_VALUE;
    DWORD value = 0;
    waitUntil([&] { return (value = readDword(HKEY_LOCAL_MACHINE, RecordKey, L"Pipe", 0)) != 0; }, 3000);
    return value == 0 || value == MAXDWORD ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(ULONG_PTR{value});
}

std::wstring recordedControls() {
    return readString(HKEY_LOCAL_MACHINE, RecordKey, L"Controls");
}

bool waitUntilServiceGone() {
    return waitUntil([] { return !openService(SERVICE_QUERY_STATUS); }, 10000);
}

}  // namespace dormalis::testing
