#pragma once

#include <string>

namespace vindelor::test {

// The private sound server that private_pulse.sh runs for this test program. Each call returns
// once the server is gone, or answers again.
class PrivateServer {
  public:
    // Whether the program was started by private_pulse.sh, with a server of its own.
    static bool available();
    // The folder the server and the test's files live in.
    static std::string folder();

    // Kills the server, as a crash would.
    static void stop();
    // Starts it again at the same socket.
    static void start();
};

}  // namespace vindelor::test
