#include <fwpmu.h>

#include "foundation/constants.h"
#include "foundation/failure.h"
#include "service/log.h"
#include "service/network.h"

namespace dormalis {

namespace {

// FWPM_SESSION_FLAG_DYNAMIC, which the MinGW headers lack.
constexpr UINT32 DynamicSession = 0x00000001;

// This product's sublayer {89f541c1-5a12-4f2a-b5ef-738a38a78091}.
constexpr GUID SubLayer = {0x89f541c1, 0x5a12, 0x4f2a, {0xb5, 0xef, 0x73, 0x8a, 0x38, 0xa7, 0x80, 0x91}};

// The IP packet layers, both directions, both families: nothing passes at any of them.
constexpr GUID BlockedLayers[] = {
    {0xc86fd1bf, 0x21cd, 0x497e, {0xa0, 0xbb, 0x17, 0x42, 0x5c, 0x88, 0x5c, 0x58}},  // inbound IPv4
    {0x1e5c9fae, 0x8a84, 0x4135, {0xa3, 0x31, 0x95, 0x0b, 0x54, 0x22, 0x9e, 0xcd}},  // outbound IPv4
    {0xf52032cb, 0x991c, 0x46e7, {0x97, 0x1d, 0x26, 0x01, 0x45, 0x9a, 0x91, 0xca}},  // inbound IPv6
    {0xa3b3ab6b, 0x3564, 0x488c, {0x91, 0x17, 0xf3, 0x4e, 0x82, 0x14, 0x27, 0x63}},  // outbound IPv6
};

// Set once a close of `engine` failed while nobody could tell whether its session lives on: its handle may be
// freed already, so it is not closed again.
bool closeFailed = false;

DWORD openDynamicSession(HANDLE& handle) {
    FWPM_SESSION0 session{};
    session.displayData.name = const_cast<wchar_t*>(Product);
    // A dynamic session lets the engine remove everything we add when the handle closes or the process dies.
    session.flags = DynamicSession;
    return FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &handle);
}

// ERROR_SUCCESS when the session sees our sublayer, FWP_E_SUBLAYER_NOT_FOUND when it does not, else why not.
DWORD findSubLayer(HANDLE session) {
    FWPM_SUBLAYER0* found = nullptr;
    const DWORD rc = FwpmSubLayerGetByKey0(session, &SubLayer, &found);
    if (found) FwpmFreeMemory0(reinterpret_cast<void**>(&found));
    return rc;
}

// The same question asked from a session of its own, for when `engine` can no longer answer.
DWORD findSubLayerAfresh() {
    HANDLE fresh = nullptr;
    if (DWORD rc = openDynamicSession(fresh)) return rc;
    const DWORD rc = findSubLayer(fresh);
    FwpmEngineClose0(fresh);
    return rc;
}

DWORD addSubLayer() {
    FWPM_SUBLAYER0 subLayer{};
    subLayer.subLayerKey = SubLayer;
    subLayer.displayData.name = const_cast<wchar_t*>(Product);
    subLayer.weight = 0xFFFF;
    return FwpmSubLayerAdd0(engine, &subLayer, nullptr);
}

DWORD addBlockFilter(const GUID& layer) {
    FWPM_FILTER0 filter{};
    filter.displayData.name = const_cast<wchar_t*>(L"Dormalis temporary network pause");
    filter.layerKey = layer;
    filter.subLayerKey = SubLayer;
    filter.weight.type = FWP_UINT8;
    filter.weight.uint8 = 15;
    filter.action.type = FWP_ACTION_BLOCK;
    return FwpmFilterAdd0(engine, &filter, nullptr, nullptr);
}

// The sublayer and the four filters; the first failure's code, or 0.
DWORD addBlock() {
    if (DWORD rc = addSubLayer()) return rc;
    for (const GUID& layer : BlockedLayers)
        if (DWORD rc = addBlockFilter(layer)) return rc;
    return ERROR_SUCCESS;
}

}  // namespace

bool firewallBlockHolds() {
    return findSubLayer(engine) == ERROR_SUCCESS;
}

bool closeEngine() {
    if (!closeFailed && FwpmEngineClose0(engine) == ERROR_SUCCESS) {
        engine = nullptr;
        return true;
    }
    // A restart of the engine aborts the session: every call on its handle fails from then on, the close
    // included, and the engine has already removed what the session added.
    const DWORD rc = findSubLayerAfresh();
    const bool gone = rc == static_cast<DWORD>(FWP_E_SUBLAYER_NOT_FOUND);
    closeFailed = rc != ERROR_SUCCESS && !gone;
    if (!gone) return false;
    engine = nullptr;
    return true;
}

bool pauseFirewall(std::wstring& why) {
    if (DWORD rc = openDynamicSession(engine)) {
        engine = nullptr;  // a failed open leaves nothing to release
        why = L"WFP engine open failed: " + errorText(rc);
        logEvent(why);
        return false;
    }
    if (DWORD rc = FwpmTransactionBegin0(engine, 0)) {
        why = L"WFP transaction failed: " + errorText(rc);
        restore();
        return false;
    }
    if (DWORD rc = addBlock()) {
        FwpmTransactionAbort0(engine);
        restore();
        why = L"WFP failure: " + errorText(rc);
        logEvent(why);
        return false;
    }
    if (DWORD rc = FwpmTransactionCommit0(engine)) {
        why = L"WFP commit failed: " + errorText(rc);
        restore();
        return false;
    }
    logEvent(L"IPv4/IPv6 Internet and LAN blocked (dynamic WFP filters).");
    return true;
}

}  // namespace dormalis
