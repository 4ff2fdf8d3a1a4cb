// Helpers of the tests as children tied to the test process: they end with it, however it dies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestEnvironment.h"

using namespace std::chrono_literals;

namespace {

// This process adopts the orphans while it lives, so that it can wait for them.
struct Subreaper {
    Subreaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~Subreaper() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
};

}  // namespace

// A test process that dies takes along the helpers it started, also one that runs as another user (taking on
// a user drops a parent-death signal set before): left running, they would hold CTest's output open until its
// time-out.
TEST(ChildProcess, TiedChildEndsWithTheProcessThatStartedIt) {
    struct Case {
        const char* name;
        std::optional<uid_t> user;
    };
    for (const auto& c : {Case{"same user", std::nullopt}, Case{"another user", uid_t{65534}}}) {
        SCOPED_TRACE(c.name);
        if (c.user && ::geteuid() != 0)
            GTEST_SKIP() << "acting as another user takes root";
        Subreaper subreaper;
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        std::vector<std::string> args = {(testsupport::binaryDir() / "platform_test_tied_parent").native()};
        if (c.user)
            args.insert(args.end(), {"--as-user", std::to_string(*c.user)});
        args.insert(args.end(), {"/bin/sleep", "600"});
        int output = out[1];
        pid_t parent = testsupport::spawnTiedToParent(args, [output] { return ::dup2(output, 1) >= 0; });
        ::close(out[1]);
        std::string line;
        char ch;
        while (::read(out[0], &ch, 1) == 1 && ch != '\n')
            line += ch;
        ::close(out[0]);
        pid_t child = line.rfind("CHILD ", 0) == 0 ? std::stoi(line.substr(6)) : -1;
        // Once the child runs the program, the tie is made (a parent that dies before gets no program run).
        auto program = std::filesystem::canonical("/bin/sleep");
        bool running = child > 0 && testsupport::eventually([&] {
                           std::error_code error;
                           return std::filesystem::read_symlink("/proc/" + std::to_string(child) + "/exe",
                                                                error) == program;
                       });
        ::kill(parent, SIGKILL);
        ::waitpid(parent, nullptr, 0);
        if (!running)
            testsupport::killAndReap(child);
        ASSERT_TRUE(running) << line;

        int status = 0;
        bool ended =
            testsupport::eventually([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 10s);
        if (!ended)
            testsupport::killAndReap(child);
        ASSERT_TRUE(ended) << "the child outlived the process that started it";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
}
