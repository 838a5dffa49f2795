#include <gtest/gtest.h>

#include "foundation/service_queries.h"
#include "tests/support/stand_in_service.h"
#include "tests/support/support.h"

namespace dormalis {
namespace {

using namespace testing;

// The stand-in records on its own thread; give it a moment.
std::wstring controlsAfter(const std::wstring& expected) {
    const ULONGLONG deadline = GetTickCount64() + 5000;
    std::wstring seen = recordedControls();
    while (seen != expected && GetTickCount64() < deadline) {
        Sleep(20);
        seen = recordedControls();
    }
    return seen;
}

TEST(ServiceQueries, WithoutTheServiceEverythingFailsQuietly) {
    { TestService removedAtOnce; }
    ASSERT_TRUE(waitUntilServiceGone());
    EXPECT_FALSE(serviceInstalled());
    EXPECT_FALSE(serviceRunning());
    EXPECT_EQ(requestNetworkRestore(), 1);
}

TEST(ServiceQueries, AStoppedServiceIsInstalledButRefusesTheRestoreRequest) {
    TestService service;
    EXPECT_TRUE(serviceInstalled());
    EXPECT_FALSE(serviceRunning());
    EXPECT_EQ(requestNetworkRestore(), 1);

    service.start();
    service.stop();
    EXPECT_TRUE(serviceInstalled());
    EXPECT_FALSE(serviceRunning());
    EXPECT_EQ(requestNetworkRestore(), 1);
    EXPECT_EQ(controlsAfter(L"1"), L"1") << "only the stop reached the service";
}

TEST(ServiceQueries, ARunningServiceReceivesTheRestoreRequest) {
    TestService service;
    service.start();
    EXPECT_TRUE(serviceInstalled());
    EXPECT_TRUE(serviceRunning());
    EXPECT_EQ(requestNetworkRestore(), 0);
    EXPECT_EQ(controlsAfter(L"128"), L"128");
    EXPECT_EQ(requestNetworkRestore(), 0);
    EXPECT_EQ(controlsAfter(L"128 128"), L"128 128");
}

}  // namespace
}  // namespace dormalis
