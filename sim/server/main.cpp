// quorvane-sim-server: the stand-in remote-signing server. See README.md for its flags.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "SimServer.h"

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void requestStop(int) {
    stopRequested.store(true);
}

void usage() {
    std::cerr
        << "usage: quorvane-sim-server --cert-dir DIR [--port N] [--base-path PATH] [--auth-seconds N]\n"
           "       [--session-seconds N] [--wallet-seconds N] [--wallet-polls N] [--retry-after-ms N]\n"
           "       [--max-signatures N] [--max-body-bytes N] [--card-ca FILE]...\n"
           "       [--disable-mean eid|wallet] [--wallet-identity GIVEN,SURNAME,RRNR]\n"
           "       [--fault ENDPOINT:FAULT]... [--callback-page-port N]\n";
}

bool parseInt(const std::string& text, long min, long max, long& out) {
    try {
        std::size_t used = 0;
        long value = std::stol(text, &used);
        if (used != text.size() || value < min || value > max)
            return false;
        out = value;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    for (int i = 1; i < argc; ++i) {
        std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            usage();
            return 0;
        }
        if (i + 1 >= argc) {
            std::cerr << "quorvane-sim-server: " << flag << " needs a value\n";
            usage();
            return 2;
        }
        std::string value = argv[++i];
        long number = 0;
        auto integer = [&](long min, long max) {
            if (!parseInt(value, min, max, number)) {
                std::cerr << "quorvane-sim-server: bad value for " << flag << ": " << value << "\n";
                std::exit(2);
            }
            return number;
        };
        if (flag == "--cert-dir") {
            options.certDir = value;
        } else if (flag == "--port") {
            options.port = static_cast<int>(integer(0, 65535));
        } else if (flag == "--base-path") {
            options.basePath = value;
        } else if (flag == "--auth-seconds") {
            options.authSeconds = static_cast<int>(integer(1, 86400));
        } else if (flag == "--session-seconds") {
            options.sessionSeconds = static_cast<int>(integer(1, 7 * 86400));
        } else if (flag == "--wallet-seconds") {
            options.walletSeconds = static_cast<int>(integer(1, 86400));
        } else if (flag == "--wallet-polls") {
            options.walletPolls = static_cast<int>(integer(0, 1000000));
        } else if (flag == "--retry-after-ms") {
            options.retryAfterMs = static_cast<int>(integer(0, 600000));
        } else if (flag == "--max-signatures") {
            options.maxSignatures = static_cast<int>(integer(1, 100000));
        } else if (flag == "--max-body-bytes") {
            options.maxBodyBytes = static_cast<std::size_t>(integer(64, 256L << 20));
        } else if (flag == "--callback-page-port") {
            options.callbackPagePort = static_cast<int>(integer(0, 65535));
        } else if (flag == "--card-ca") {
            options.cardCAFiles.push_back(value);
        } else if (flag == "--disable-mean") {
            options.disabledMeans.push_back(value);
        } else if (flag == "--wallet-identity") {
            auto first = value.find(',');
            auto second = first == std::string::npos ? first : value.find(',', first + 1);
            if (second == std::string::npos) {
                std::cerr << "quorvane-sim-server: --wallet-identity wants GIVEN,SURNAME,RRNR\n";
                return 2;
            }
            options.walletIdentity = {value.substr(0, first), value.substr(first + 1, second - first - 1),
                                      value.substr(second + 1)};
        } else if (flag == "--fault") {
            auto colon = value.find(':');
            auto fault = colon == std::string::npos ? std::nullopt : sim::parseFault(value.substr(colon + 1));
            if (!fault) {
                std::cerr << "quorvane-sim-server: bad fault: " << value << "\n";
                return 2;
            }
            options.faults.emplace_back(value.substr(0, colon), *fault);
        } else {
            std::cerr << "quorvane-sim-server: unknown flag " << flag << "\n";
            usage();
            return 2;
        }
    }
    if (options.certDir.empty()) {
        usage();
        return 2;
    }

    // SIGTERM and SIGINT only ask the server to stop; it stops itself on this thread. A peer that goes away
    // must not kill the server.
    signal(SIGPIPE, SIG_IGN);
    struct sigaction stop {};
    stop.sa_handler = requestStop;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    try {
        sim::SimServer server(options);
        int port = server.bind();
        if (port <= 0) {
            std::cerr << "quorvane-sim-server: cannot listen on " << options.host << ":" << options.port
                      << "\n";
            return 1;
        }
        std::printf("PORT %d\nCA %s\nBASE https://localhost:%d%s\n", port, server.caFile().c_str(), port,
                    options.basePath.c_str());
        if (server.callbackPagePort() > 0)
            std::printf("CALLBACK http://%s:%d/signed\n", options.host.c_str(), server.callbackPagePort());
        std::fflush(stdout);
        if (!server.run(stopRequested)) {
            std::cerr << "quorvane-sim-server: serving failed\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "quorvane-sim-server: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
