// Stand-in for the Windows Filtering Platform management API. Wine has no filtering engine; this keeps the
// contract the service relies on: objects of a dynamic session vanish when its handle closes or its process
// ends, those of any other session stay until deleted or the engine restarts, a transaction is all or nothing,
// objects are checked as the engine checks them, and every object added can be read back by a test.
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
    bool dynamic = false;  // FWPM_SESSION_FLAG_DYNAMIC
    bool inTransaction = false;
    std::vector<PendingSubLayer> subLayers;
    std::vector<PendingFilter> filters;
};

constexpr UINT32 PersistentObject = 0x00000001;  // FWPM_SUBLAYER_FLAG_PERSISTENT, FWPM_FILTER_FLAG_PERSISTENT

// The layers the engine knows, as far as a test needs them: the IP packet layers.
constexpr GUID KnownLayers[] = {
    {0xc86fd1bf, 0x21cd, 0x497e, {0xa0, 0xbb, 0x17, 0x42, 0x5c, 0x88, 0x5c, 0x58}},  // INBOUND_IPPACKET_V4
    {0x1e5c9fae, 0x8a84, 0x4135, {0xa3, 0x31, 0x95, 0x0b, 0x54, 0x22, 0x9e, 0xcd}},  // OUTBOUND_IPPACKET_V4
    {0xf52032cb, 0x991c, 0x46e7, {0x97, 0x1d, 0x26, 0x01, 0x45, 0x9a, 0x91, 0xca}},  // INBOUND_IPPACKET_V6
    {0xa3b3ab6b, 0x3564, 0x488c, {0x91, 0x17, 0xf3, 0x4e, 0x82, 0x14, 0x27, 0x63}},  // OUTBOUND_IPPACKET_V6
};

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
    return hasValue((std::wstring(WfpSubLayersKey) + L"\\" + key).c_str(), L"Session");
}

DWORD weightError(const FWP_VALUE0& weight) {
    switch (weight.type) {
        case FWP_EMPTY:
            return ERROR_SUCCESS;  // the engine chooses
        case FWP_UINT8:
            return weight.uint8 <= 15 ? ERROR_SUCCESS : FWP_E_INVALID_WEIGHT;
        case FWP_UINT64:
            return weight.uint64 ? ERROR_SUCCESS : FWP_E_NULL_POINTER;
        default:
            return FWP_E_INVALID_WEIGHT;
    }
}

// What the engine refuses in a filter, as it would refuse it; 0 for a filter it takes.
DWORD filterError(const Engine& engine, const FWPM_FILTER0& filter) {
    bool layerKnown = false;
    for (const GUID& layer : KnownLayers)
        layerKnown = layerKnown || IsEqualGUID(layer, filter.layerKey);
    if (!layerKnown) return FWP_E_LAYER_NOT_FOUND;
    // The null key names the engine's own universal sublayer.
    if (!IsEqualGUID(filter.subLayerKey, GUID{}) && !subLayerKnown(engine, guidText(filter.subLayerKey)))
        return FWP_E_SUBLAYER_NOT_FOUND;
    if (DWORD rc = weightError(filter.weight)) return rc;
    if (filter.action.type != FWP_ACTION_BLOCK && filter.action.type != FWP_ACTION_PERMIT)
        return FWP_E_INVALID_ACTION_TYPE;
    if (filter.numFilterConditions && !filter.filterCondition) return FWP_E_NULL_POINTER;
    if (!filter.displayData.name) return FWP_E_NULL_DISPLAY_NAME;
    if (engine.dynamic && (filter.flags & PersistentObject)) return FWP_E_DYNAMIC_SESSION_IN_PROGRESS;
    return ERROR_SUCCESS;
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
    setDword(path.c_str(), L"Flags", session ? session->flags : 0);
    setString(path.c_str(), L"Name", session ? text(session->displayData.name) : L"");
    *engineHandle = engine;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmEngineClose0(HANDLE engineHandle) {
    if (DWORD fault = enter(L"FwpmEngineClose0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    Lock lock;
    endSession(engine->session);
    delete engine;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmTransactionBegin0(HANDLE engineHandle, UINT32 flags) {
    (void)flags;
    if (DWORD fault = enter(L"FwpmTransactionBegin0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    if (engine->inTransaction) return FWP_E_TXN_IN_PROGRESS;
    engine->inTransaction = true;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmTransactionCommit0(HANDLE engineHandle) {
    if (DWORD fault = enter(L"FwpmTransactionCommit0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    if (!engine->inTransaction) return FWP_E_NO_TXN_IN_PROGRESS;
    Lock lock;
    commit(*engine);
    engine->inTransaction = false;
    return ERROR_SUCCESS;
}

DWORD WINAPI FwpmTransactionAbort0(HANDLE engineHandle) {
    if (DWORD fault = enter(L"FwpmTransactionAbort0")) return fault;
    Engine* engine = engineOf(engineHandle);
    if (!engine) return ERROR_INVALID_HANDLE;
    if (!engine->inTransaction) return FWP_E_NO_TXN_IN_PROGRESS;
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
    if (!subLayer->displayData.name) return FWP_E_NULL_DISPLAY_NAME;
    if (engine->dynamic && (subLayer->flags & PersistentObject)) return FWP_E_DYNAMIC_SESSION_IN_PROGRESS;
    if (subLayerKnown(*engine, layer.key)) return FWP_E_ALREADY_EXISTS;
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
    if (DWORD rc = filterError(*engine, *filter)) return rc;
    if (filter->weight.type == FWP_UINT8) record.weight = filter->weight.uint8;
    if (filter->weight.type == FWP_UINT64) record.weight = *filter->weight.uint64;
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
