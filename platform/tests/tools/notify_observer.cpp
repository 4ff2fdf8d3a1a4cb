// quorvane-notify-observer --until NAME [--timeout-ms N] [NAME...]
// quorvane-notify-observer --post NAME...
//
// Observes the given names (every name when none is given, so a test can see that nothing else was posted) on
// the session bus from a process of its own. Prints "ready" once it observes, then each name it receives on a
// line of its own, in order. Ends when it receives the --until name (not printed). Exit status: 0 at the
// --until name, 2 at the time-out (default 30000 ms), 3 when there is no session bus or it is lost, 64 on bad
// arguments.
//
// With --post it posts the names in order instead, as a separate process would; exit status 0 when every post
// went out, 3 otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DarwinNotify.h"

namespace {

std::mutex outputMutex;

void printLine(const std::string& line) {
    std::lock_guard lock(outputMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int usage() {
    std::fprintf(stderr,
                 "usage: quorvane-notify-observer --until NAME [--timeout-ms N] [NAME...]\n"
                 "       quorvane-notify-observer --post NAME...\n");
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--post") {
        if (argc == 2)
            return usage();
        bool posted = true;
        for (int i = 2; i < argc; ++i)
            posted = platform::DarwinNotify::post(argv[i]) && posted;
        return posted ? 0 : 3;
    }

    std::string until;
    long timeoutMs = 30000;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--until" && i + 1 < argc) {
            until = argv[++i];
        } else if (argument == "--timeout-ms" && i + 1 < argc) {
            char* end = nullptr;
            timeoutMs = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || timeoutMs < 0)
                return usage();
        } else if (argument.starts_with("--")) {
            return usage();
        } else {
            names.push_back(argument);
        }
    }
    if (!platform::DarwinNotify::isValidName(until))
        return usage();

    auto print = [&until](const std::string& name) {
        if (name != until)
            printLine(name);
    };
    std::vector<std::string> observed = names;
    observed.push_back(until);
    auto observer = names.empty() ? std::make_unique<platform::DarwinNotifyObserver>(
                                        platform::DarwinNotifyObserver::allNames, print)
                                  : std::make_unique<platform::DarwinNotifyObserver>(observed, print);
    if (!observer->isObserving()) {
        std::fprintf(stderr, "quorvane-notify-observer: no session bus\n");
        return 3;
    }
    printLine("ready");

    if (observer->waitFor(until, std::chrono::milliseconds(timeoutMs)))
        return 0;
    const bool lost = !observer->isObserving();
    observer.reset();
    std::fprintf(stderr, "quorvane-notify-observer: %s\n", lost ? "session bus lost" : "timed out");
    return lost ? 3 : 2;
}
