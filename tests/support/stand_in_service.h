#pragma once

#include <string>

namespace dormalis::testing {

// Registers the stand-in service (dormalis_test_service.exe of the build folder) under the product's service
// name, on demand start; removes it again when it goes out of scope, so no test leaves a service behind.
class TestService {
  public:
    TestService();
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    void start();  // returns once the service reports running
    void stop();   // returns once the service reports stopped
    // A control pipe instance made by the running service and handed to this process (invalid on failure).
    void* pipe();
};

// The control codes the stand-in service received, in order, separated by spaces; cleared by TestService.
std::wstring recordedControls();

// Waits until no service of the product's name is registered any more (a deleted service lingers while open).
bool waitUntilServiceGone();

}  // namespace dormalis::testing
