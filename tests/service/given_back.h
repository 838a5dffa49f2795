#pragma once

// The network as a test sees it: no filtering object left, nothing on the recovery list, every adapter that was
// started when the test described it is started again, and NetworkState reads 0. Shared by the tests and the
// scripted client, which checks it between its sessions.
namespace dormalis::testing {

bool networkGivenBack();

}  // namespace dormalis::testing
