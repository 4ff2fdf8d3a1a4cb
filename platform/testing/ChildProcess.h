#pragma once
// Helper programs of the tests (stand-in server, relay, tools) as children of the test process, tied to it so
// that a test process that dies takes them along: left running, they would keep its output open and CTest
// would wait for them to its time limit.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Starts a program (argv[0]: its path, or a name looked up on PATH) as a child that gets SIGKILL when the
// calling thread ends (with its process, however that dies); a child whose parent died before the tie was
// made gives up at once. `prepare` runs in the child first (redirections, environment, another user); false
// ends the child with status 126. Arguments are prepared before the fork: what runs in the child should
// allocate as little as it can. Throws std::runtime_error when there is no child.
pid_t spawnTiedToParent(const std::vector<std::string>& argv, const std::function<bool()>& prepare = {});

// Waits for the child to end and reaps it: its exit status (-1 when a signal ended it), or nothing when it
// has not ended within the limit (it is left as it is then).
std::optional<int> reapWithin(pid_t pid, std::chrono::milliseconds limit);

// Asks the child to end (SIGTERM), kills it when it has not ended within a grace period, and reaps it.
// Nothing for a pid of zero or less.
void killAndReap(pid_t pid);

// A file of a process under /proc, whole; empty when it cannot be read (the process has just ended: a read
// then fails, which std::ifstream would report by throwing).
std::string readProcessFile(pid_t pid, const char* name);

// Kills every process of this user whose environment names the runtime folder (XDG_RUNTIME_DIR): what a
// program under test started detached for a test's own user (a relay started on demand, a link opener), which
// neither dies with the test nor is its child.
void killProgramsOfRuntimeFolder(const std::string& runtimeFolder);

}  // namespace testsupport
