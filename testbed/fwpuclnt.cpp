// Stand-in for the Windows Filtering Platform management API. Wine has no filtering engine; this keeps the
// contract the service relies on: objects of a dynamic session vanish when its handle closes or its process
// ends, those of any other session stay until the engine restarts, a restart aborts every session, a
// transaction is all or nothing, objects are checked as the engine checks them, and every object added can be
// read back by a test.
#include <windows.h>

#include <fwpmu.h>

#include <set>
#include <string>
#include <utility>

#include "testbed/state.h"

using namespace dormalis::testbed;

namespace {

struct Engine {
    std::wstring session;
    DWORD generation = 0;  // the engine's run that opened it
    bool dynamic = false;  // FWPM_SESSION_FLAG_DYNAMIC
    bool inTransaction = false;
    // The owner written into each object added now: inside a transaction it waits for the commit.
    std::wstring owner() const { return inTransaction ? session + Uncommitted : session; }
};

// The handles this process holds; any other is refused, as the engine refuses a handle it freed.
std::set<Engine*> openEngines;

// The engine behind a handle, and what a call on it meets: a handle never given or freed already is invalid, and
// one opened before the engine last restarted belongs to an aborted session.
DWORD check(HANDLE handle, Engine*& engine) {
    engine = static_cast<Engine*>(handle);
    if (!openEngines.count(engine)) return ERROR_INVALID_HANDLE;
    return engine->generation == getDword(WfpKey, L"Generation", 0) ? ERROR_SUCCESS : FWP_E_SESSION_ABORTED;
}

constexpr UINT32 PersistentObject = 0x00000001;  // FWPM_SUBLAYER_FLAG_PERSISTENT, FWPM_FILTER_FLAG_PERSISTENT

// The layers the engine knows, as far as a test needs them: the IP packet layers.
constexpr GUID KnownLayers[] = {
    {0xc86fd1bf, 0x21cd, 0x497e, {0xa0, 0xbb, 0x17, 0x42, 0x5c, 0x88, 0x5c, 0x58}},  // INBOUND_IPPACKET_V4
    {0x1e5c9fae, 0x8a84, 0x4135, {0xa3, 0x31, 0x95, 0x0b, 0x54, 0x22, 0x9e, 0xcd}},  // OUTBOUND_IPPACKET_V4
    {0xf52032cb, 0x991c, 0x46e7, {0x97, 0x1d, 0x26, 0x01, 0x45, 0x9a, 0x91, 0xca}},  // INBOUND_IPPACKET_V6
    {0xa3b3ab6b, 0x3564, 0x488c, {0x91, 0x17, 0xf3, 0x4e, 0x82, 0x14, 0x27, 0x63}},  // OUTBOUND_IPPACKET_V6
};

// What the engine refuses in a filter, as it would refuse it; 0 for a filter it takes.
DWORD filterError(const Engine& engine, const FWPM_FILTER0& filter) {
    bool layerKnown = false;
    for (const GUID& layer : KnownLayers)
        layerKnown = layerKnown || IsEqualGUID(layer, filter.layerKey);
    if (!layerKnown) return FWP_E_LAYER_NOT_FOUND;
    // The null key names the engine's own universal sublayer.
    if (!IsEqualGUID(filter.subLayerKey, GUID{}) &&
        !hasValue((std::wstring(WfpSubLayersKey) + L"\\" + guidText(filter.subLayerKey)).c_str(), L"Session"))
        return FWP_E_SUBLAYER_NOT_FOUND;
    // The engine chooses an empty weight; a byte weight goes up to 15; a 64-bit one needs its value.
    const FWP_VALUE0& weight = filter.weight;
    if (weight.type != FWP_EMPTY && !(weight.type == FWP_UINT8 && weight.uint8 <= 15) &&
        !(weight.type == FWP_UINT64 && weight.uint64))
        return FWP_E_INVALID_WEIGHT;
    if (filter.action.type != FWP_ACTION_BLOCK && filter.action.type != FWP_ACTION_PERMIT)
        return FWP_E_INVALID_ACTION_TYPE;
    if (filter.numFilterConditions && !filter.filterCondition) return FWP_E_NULL_POINTER;
    if (!filter.displayData.name) return FWP_E_NULL_DISPLAY_NAME;
    if (engine.dynamic && (filter.flags & PersistentObject)) return FWP_E_DYNAMIC_SESSION_IN_PROGRESS;
    return ERROR_SUCCESS;
}

// Commits or aborts the objects the engine's transaction added.
DWORD endTransaction(const wchar_t* function, HANDLE engineHandle, bool commit) {
    if (DWORD fault = enter(function)) return fault;
    Engine* engine = nullptr;
    if (DWORD rc = check(engineHandle, engine)) return rc;
    if (!engine->inTransaction) return FWP_E_NO_TXN_IN_PROGRESS;
    Lock lock;
    for (const wchar_t* list : {WfpSubLayersKey, WfpFiltersKey}) {
        for (const std::wstring& name : names(list)) {
            const std::wstring path = std::wstring(list) + L"\\" + name;
            if (getString(path.c_str(), L"Session") != engine->owner()) continue;
            commit ? setString(path.c_str(), L"Session", engine->session) : deleteTree(path.c_str());
        }
    }
    engine->inTransaction = false;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

DWORD WINAPI FwpmEngineOpen0(const wchar_t*, UINT32, SEC_WINNT_AUTH_IDENTITY_W*, const FWPM_SESSION0* session,
                             HANDLE* engineHandle) {
    if (!engineHandle) return ERROR_INVALID_PARAMETER;
    *engineHandle = nullptr;
    pruneDeadSessions();
    if (DWORD fault = enter(L"FwpmEngineOpen0")) return fault;
    Lock lock;
    auto* engine = new Engine;
    const DWORD id = getDword(WfpKey, L"NextSessionId", 1);
    setDword(WfpKey, L"NextSessionId", id + 1);
    engine->session = std::to_wstring(id);
    engine->generation = getDword(WfpKey, L"Generation", 0);
    openEngines.insert(engine);
    engine->dynamic = session && (session->flags & 0x00000001);
    const std::wstring path = std::wstring(WfpSessionsKey) + L"\\" + engine->session;
    setDword(path.c_str(), L"Pid", GetCurrentProcessId());
    setString(path.c_str(), L"Created", processCreated(GetCurrentProcessId()));
    setDword(path.c_str(), L"Flags", session ? session->flags : 0);
    *engineHandle = engine;
    return ERROR_SUCCESS;
}

// The handle of an aborted session is freed all the same: its session ended with the engine's last run.
DWORD WINAPI FwpmEngineClose0(HANDLE engineHandle) {
    if (DWORD fault = enter(L"FwpmEngineClose0")) return fault;
    Engine* engine = nullptr;
    const DWORD rc = check(engineHandle, engine);
    if (rc == ERROR_INVALID_HANDLE) return rc;
    Lock lock;
    if (rc == ERROR_SUCCESS) endSession(engine->session);
    openEngines.erase(engine);
    delete engine;
    return rc;
}

DWORD WINAPI FwpmTransactionBegin0(HANDLE engineHandle, UINT32) {
    if (DWORD fault = enter(L"FwpmTransactionBegin0")) return fault;
    Engine* engine = nullptr;
    if (DWORD rc = check(engineHandle, engine)) return rc;
    if (engine->inTransaction) return FWP_E_TXN_IN_PROGRESS;
    engine->inTransaction = true;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmTransactionCommit0(HANDLE engineHandle) {
    return endTransaction(L"FwpmTransactionCommit0", engineHandle, true);
}

DWORD WINAPI FwpmTransactionAbort0(HANDLE engineHandle) {
    return endTransaction(L"FwpmTransactionAbort0", engineHandle, false);
}

DWORD WINAPI FwpmSubLayerAdd0(HANDLE engineHandle, const FWPM_SUBLAYER0* subLayer, PSECURITY_DESCRIPTOR) {
    if (DWORD fault = enter(L"FwpmSubLayerAdd0")) return fault;
    Engine* engine = nullptr;
    if (DWORD rc = check(engineHandle, engine)) return rc;
    if (!subLayer) return ERROR_INVALID_PARAMETER;
    if (!subLayer->displayData.name) return FWP_E_NULL_DISPLAY_NAME;
    if (engine->dynamic && (subLayer->flags & PersistentObject)) return FWP_E_DYNAMIC_SESSION_IN_PROGRESS;
    Lock lock;
    const std::wstring path = std::wstring(WfpSubLayersKey) + L"\\" + guidText(subLayer->subLayerKey);
    if (hasValue(path.c_str(), L"Session")) return FWP_E_ALREADY_EXISTS;
    setDword(path.c_str(), L"Weight", subLayer->weight);
    setString(path.c_str(), L"Session", engine->owner());
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmFilterAdd0(HANDLE engineHandle, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR, UINT64* id) {
    if (DWORD fault = enter(L"FwpmFilterAdd0")) return fault;
    Engine* engine = nullptr;
    if (DWORD rc = check(engineHandle, engine)) return rc;
    if (!filter) return ERROR_INVALID_PARAMETER;
    Lock lock;
    if (DWORD rc = filterError(*engine, *filter)) return rc;
    const DWORD number = getDword(WfpKey, L"NextFilterId", 1);
    setDword(WfpKey, L"NextFilterId", number + 1);
    const std::wstring path = std::wstring(WfpFiltersKey) + L"\\" + std::to_wstring(number);
    const wchar_t* p = path.c_str();
    setString(p, L"Layer", guidText(filter->layerKey));
    setString(p, L"SubLayer", guidText(filter->subLayerKey));
    setDword(p, L"Action", filter->action.type);
    setDword(p, L"Conditions", filter->numFilterConditions);
    setString(p, L"Session", engine->owner());
    if (id) *id = number;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmSubLayerGetByKey0(HANDLE engineHandle, const GUID* key, FWPM_SUBLAYER0** subLayer) {
    if (DWORD fault = enter(L"FwpmSubLayerGetByKey0")) return fault;
    Engine* engine = nullptr;
    if (DWORD rc = check(engineHandle, engine)) return rc;
    if (!key || !subLayer) return ERROR_INVALID_PARAMETER;
    Lock lock;
    const std::wstring owner = getString((std::wstring(WfpSubLayersKey) + L"\\" + guidText(*key)).c_str(), L"Session");
    // Another session's uncommitted object is not there yet.
    if (owner.empty() || (owner.find(Uncommitted) != std::wstring::npos && owner != engine->owner()))
        return FWP_E_SUBLAYER_NOT_FOUND;
    *subLayer = static_cast<FWPM_SUBLAYER0*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(FWPM_SUBLAYER0)));
    if (*subLayer) (*subLayer)->subLayerKey = *key;
    return *subLayer ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

void WINAPI FwpmFreeMemory0(void** memory) {
    if (memory) HeapFree(GetProcessHeap(), 0, std::exchange(*memory, nullptr));
}

}  // extern "C"
