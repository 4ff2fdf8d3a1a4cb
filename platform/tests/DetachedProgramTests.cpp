// Programs started detached: what they get from a caller whose signals are anything but the defaults, that
// they are neither the caller's children nor its zombies, and that many starts from many threads of a busy
// process all work.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/DetachedProgram.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestEnvironment.h"

namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// True when a child of this process has ended and not been reaped.
bool hasZombieChild() {
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

// The value of a "Name:\tvalue" line of /proc/<pid>/status.
std::string statusField(const std::string& status, const std::string& name) {
    auto at = status.find("\n" + name + ":\t");
    if (at == std::string::npos)
        return {};
    at += name.size() + 3;
    return status.substr(at, status.find('\n', at) - at);
}

}  // namespace

TEST(DetachedProgram, RunsInASessionOfItsOwnWithDefaultSignalsAndLeavesNoChild) {
    // The caller ignores and blocks signals, as applications do.
    struct CallerSignals {
        CallerSignals() {
            ::signal(SIGPIPE, SIG_IGN);
            ::signal(SIGHUP, SIG_IGN);
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, SIGUSR1);
            ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
        }
        ~CallerSignals() {
            ::signal(SIGPIPE, SIG_DFL);
            ::signal(SIGHUP, SIG_DFL);
            ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        }
        sigset_t previous;
    } callerSignals;
    ASSERT_FALSE(hasZombieChild());

    auto out = testsupport::makeTempDir("detached") / "status.txt";
    ASSERT_TRUE(platform::spawnDetached(platform::DetachedProgram{
        "cat", {"cat", "/proc/self/stat", "/proc/self/status"}, out.native(), {}, true}));
    ASSERT_TRUE(testsupport::eventually([&] { return readAll(out).find("\nSigIgn:") != std::string::npos; }));
    std::string text = readAll(out);
    // /proc/self/stat: pid (comm) state ppid pgrp session ...
    std::istringstream stat(text.substr(text.find(')') + 2));
    char state;
    pid_t parent, group, session;
    stat >> state >> parent >> group >> session;
    pid_t pid = std::stoi(text);
    EXPECT_NE(parent, ::getpid());
    EXPECT_NE(session, ::getsid(0));
    EXPECT_NE(session, pid);  // not a session leader: it cannot take a terminal
    EXPECT_EQ(statusField(text, "SigBlk"), "0000000000000000") << text;
    // glibc's posix_spawn leaves its own two signals (32 and 33, which no program may use) ignored; glibc
    // programs take them back at start.
    const unsigned long glibcSignals = 3ul << 31;
    EXPECT_EQ(std::stoul(statusField(text, "SigIgn"), nullptr, 16) & ~glibcSignals, 0ul) << text;
    EXPECT_FALSE(hasZombieChild());
}

TEST(DetachedProgram, ManyStartsFromManyThreadsOfABusyProcessAllWork) {
    std::atomic<bool> busy{true};
    // Allocation going on meanwhile: the start shares the caller's memory and must not touch its heap.
    std::thread allocating([&] {
        while (busy) {
            std::vector<std::unique_ptr<int[]>> blocks;
            for (int i = 0; i < 1000; ++i)
                blocks.push_back(std::make_unique<int[]>(static_cast<std::size_t>(i % 64 + 1)));
        }
    });
    auto folder = testsupport::makeTempDir("detached-many");
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                auto marker = folder / (std::to_string(t) + "-" + std::to_string(i));
                if (platform::spawnDetached(platform::DetachedProgram{
                        "/bin/sh", {"sh", "-c", "echo ran"}, marker.native(), {}, false}))
                    ++started;
            }
        });
    for (auto& thread : threads)
        thread.join();
    busy = false;
    allocating.join();
    EXPECT_EQ(started, 100);
    EXPECT_TRUE(testsupport::eventually([&] {
        int ran = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            ran += readAll(entry.path()) == "ran\n";
        return ran == 100;
    }));
    EXPECT_FALSE(hasZombieChild());
}
