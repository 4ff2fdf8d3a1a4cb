#pragma once
// Programs started detached from the caller: in a session of their own, not the caller's children, with only
// the standard streams (and an instance lock) inherited. The caller may be a large application that loaded
// our code (the token module starts the app's link opener from inside it).
#include <string>
#include <vector>

namespace platform {

struct DetachedProgram {
    std::string program;                 // a path, or a name looked up in PATH when searchPath is set
    std::vector<std::string> arguments;  // argv, argv[0] included
    std::string standardOutPath;         // empty: /dev/null
    std::string standardErrorPath;       // empty: same as standard output
    bool searchPath = false;
    int instanceLock = -1;  // when set, the program inherits it (as descriptor 3) and its process id is
                            // written into it
};

// Runs the program in a new session, detached: a go-between child starts it and ends at once, so no child is
// left for the caller to reap and the program does not end with the caller. Nothing of the caller is copied
// (the go-between shares its memory and the program is started by posix_spawn), so the start costs the same
// in a small and in a very large process. Standard input comes from /dev/null and the outputs are appended to
// the given files (their folder is made; a file that cannot be opened is replaced by /dev/null); signals are
// at their defaults and unblocked. Safe to call from a multi-threaded process. False when the program could
// not be started.
bool spawnDetached(const DetachedProgram& program);

}  // namespace platform
