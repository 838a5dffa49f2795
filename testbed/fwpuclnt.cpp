// Stand-in for the Windows Filtering Platform management API. Wine has no filtering engine; this keeps the
// contract the service relies on: objects of a dynamic session vanish when its handle closes or its process
// ends, a transaction is all or nothing, and every object added can be read back by a test.
#include <windows.h>

#include <fwpmu.h>

#include <string>
#include <vector>

#include "testbed/state.h"

using namespace dormalis::testbed;

namespace {

struct PendingSubLayer {
    std::wstring key;
    std::wstring name;
    DWORD flags;
    DWORD weight;
};

struct PendingFilter {
    std::wstring layer;
    std::wstring subLayer;
    std::wstring name;
    DWORD flags;
    DWORD weightType;
    ULONGLONG weight;
    DWORD action;
    DWORD conditions;
};

struct Engine {
    std::wstring session;
    bool dynamic = false;
    bool inTransaction = false;
    std::vector<PendingSubLayer> subLayers;
    std::vector<PendingFilter> filters;
};

constexpr DWORD SubLayerNotFound = 0x80320007;       // FWP_E_SUBLAYER_NOT_FOUND
constexpr DWORD AlreadyExists = 0x80320009;          // FWP_E_ALREADY_EXISTS
constexpr DWORD NoTransaction = 0x8032000D;          // FWP_E_NO_TXN_IN_PROGRESS
constexpr DWORD TransactionInProgress = 0x8032000B;  // FWP_E_TXN_IN_PROGRESS

Engine* engineOf(HANDLE handle) {
    return static_cast<Engine*>(handle);
}

std::wstring text(const wchar_t* value) {
    return value ? value : L"";
}

void writeSubLayer(const std::wstring& session, const PendingSubLayer& layer) {
    std::wstring path = std::wstring(WfpSubLayersKey) + L"\\" + layer.key;
    setString(path.c_str(), L"Session", session);
    setString(path.c_str(), L"Name", layer.name);
    setDword(path.c_str(), L"Flags", layer.flags);
    setDword(path.c_str(), L"Weight", layer.weight);
}

void writeFilter(const std::wstring& session, const PendingFilter& filter) {
    DWORD id = getDword(WfpKey, L"NextFilterId", 1);
    setDword(WfpKey, L"NextFilterId", id + 1);
    std::wstring path = std::wstring(WfpFiltersKey) + L"\\" + std::to_wstring(id);
    setString(path.c_str(), L"Session", session);
    setString(path.c_str(), L"Layer", filter.layer);
    setString(path.c_str(), L"SubLayer", filter.subLayer);
    setString(path.c_str(), L"Name", filter.name);
    setDword(path.c_str(), L"Flags", filter.flags);
    setDword(path.c_str(), L"WeightType", filter.weightType);
    setQword(path.c_str(), L"Weight", filter.weight);
    setDword(path.c_str(), L"Action", filter.action);
    setDword(path.c_str(), L"Conditions", filter.conditions);
}

bool subLayerKnown(const Engine& engine, const std::wstring& key) {
    for (const PendingSubLayer& layer : engine.subLayers)
        if (layer.key == key) return true;
    return !subkeys(WfpSubLayersKey).empty() &&
           !getString((std::wstring(WfpSubLayersKey) + L"\\" + key).c_str(), L"Session").empty();
}

void commit(Engine& engine) {
    for (const PendingSubLayer& layer : engine.subLayers)
        writeSubLayer(engine.session, layer);
    for (const PendingFilter& filter : engine.filters)
        writeFilter(engine.session, filter);
    engine.subLayers.clear();
    engine.filters.clear();
}

}  // namespace

extern "C" {

DWORD WINAPI FwpmEngineOpen0(const wchar_t* serverName, UINT32 authnService, SEC_WINNT_AUTH_IDENTITY_W* authIdentity,
                             const FWPM_SESSION0* session, HANDLE* engineHandle) {
    (void)serverName;
    (void)authnService;
    (void)authIdentity;
    if (!engineHandle) return ERROR_INVALID_PARAMETER;
    *engineHandle = nullptr;
    pruneDeadSessions();
    if (DWORD fault = enter(L"FwpmEngineOpen0")) return fault;
    Lock lock;
    auto* engine = new Engine;
    DWORD id = getDword(WfpKey, L"NextSessionId", 1);
    setDword(WfpKey, L"NextSessionId", id + 1);
    engine->session = std::to_wstring(id);
    engine->dynamic = session && (session->flags & 0x00000001);
    std::wstring path = std::wstring(WfpSessionsKey) + L"\\" + engine->session;
    setDword(path.c_str(), L"Pid", GetCurrentProcessId());
    setQword(path.c_str(), L"Created", processCreated(GetCurrentProcessId()));
    setDword(path.c_str(), L"Dynamic", engine->dynamic ? 1 : 0);
    setString(path.c_str(), L"Name", session ? text(session->displayData.name) : L"");
    *engineHandle = engine;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmEngineClose0(HANDLE engineHandle) {
    if (DWORD fault = enter(L"FwpmEngineClose0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    Lock lock;
    // Only dynamic objects die with the session; nothing else is simulated, so a static session keeps nothing.
    removeSession(engine->session);
    delete engine;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmTransactionBegin0(HANDLE engineHandle, UINT32 flags) {
    (void)flags;
    if (DWORD fault = enter(L"FwpmTransactionBegin0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    if (engine->inTransaction) return TransactionInProgress;
    engine->inTransaction = true;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmTransactionCommit0(HANDLE engineHandle) {
    if (DWORD fault = enter(L"FwpmTransactionCommit0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    if (!engine->inTransaction) return NoTransaction;
    Lock lock;
    commit(*engine);
    engine->inTransaction = false;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmTransactionAbort0(HANDLE engineHandle) {
    if (DWORD fault = enter(L"FwpmTransactionAbort0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    if (!engine->inTransaction) return NoTransaction;
    engine->subLayers.clear();
    engine->filters.clear();
    engine->inTransaction = false;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmSubLayerAdd0(HANDLE engineHandle, const FWPM_SUBLAYER0* subLayer, PSECURITY_DESCRIPTOR sd) {
    (void)sd;
    if (DWORD fault = enter(L"FwpmSubLayerAdd0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    if (!subLayer) return ERROR_INVALID_PARAMETER;
    Lock lock;
    PendingSubLayer layer{guidText(subLayer->subLayerKey), text(subLayer->displayData.name), subLayer->flags,
                          subLayer->weight};
    if (subLayerKnown(*engine, layer.key)) return AlreadyExists;
    engine->subLayers.push_back(layer);
    if (!engine->inTransaction) commit(*engine);
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmFilterAdd0(HANDLE engineHandle, const FWPM_FILTER0* filter, PSECURITY_DESCRIPTOR sd, UINT64* id) {
    (void)sd;
    if (DWORD fault = enter(L"FwpmFilterAdd0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    if (!filter) return ERROR_INVALID_PARAMETER;
    Lock lock;
    PendingFilter record{guidText(filter->layerKey),
                         guidText(filter->subLayerKey),
                         text(filter->displayData.name),
                         filter->flags,
                         static_cast<DWORD>(filter->weight.type),
                         0,
                         filter->action.type,
                         filter->numFilterConditions};
    if (filter->weight.type == FWP_UINT8) record.weight = filter->weight.uint8;
    if (filter->weight.type == FWP_UINT64 && filter->weight.uint64) record.weight = *filter->weight.uint64;
    if (!subLayerKnown(*engine, record.subLayer)) return SubLayerNotFound;
    engine->filters.push_back(record);
    if (!engine->inTransaction) commit(*engine);
    if (id) *id = 0;
    return ERROR_SUCCESS;
}

void WINAPI FwpmFreeMemory0(void** p) {
    if (p && *p) {
        LocalFree(*p);
        *p = nullptr;
    }
}

}  // extern "C"
