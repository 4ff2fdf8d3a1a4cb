// platform_test_tied_parent [--as-user UID] PROGRAM [ARGUMENT...]: starts the program as the tests start
// their helpers (tied to this process; as the user when given), prints "CHILD <pid>" and waits to be killed.
// The tests kill it to see the program go with it.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/testing/ChildProcess.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    long user = -1;
    if (args.size() >= 2 && args[0] == "--as-user") {
        user = std::stol(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        std::fprintf(stderr, "usage: platform_test_tied_parent [--as-user UID] PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    try {
        pid_t child = testsupport::spawnTiedToParent(args, [user] {
            auto id = static_cast<uid_t>(user);
            return user < 0 || (::setresgid(id, id, id) == 0 && ::setresuid(id, id, id) == 0);
        });
        std::printf("CHILD %d\n", static_cast<int>(child));
        std::fflush(stdout);
        for (;;)
            ::pause();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "platform_test_tied_parent: %s\n", e.what());
        return 1;
    }
}
