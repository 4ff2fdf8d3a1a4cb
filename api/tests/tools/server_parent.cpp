// api_test_server_parent: starts a stand-in server as the tests do, prints "SERVER <pid>" and waits to be
// killed; the tests kill it to see its server go with it.
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "sim/testing/SimServerProcess.h"

int main() {
    try {
        simtest::SimServerProcess server;
        std::printf("SERVER %d\n", static_cast<int>(server.pid()));
        std::fflush(stdout);
        for (;;)
            pause();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "api_test_server_parent: %s\n", e.what());
        return 1;
    }
}
