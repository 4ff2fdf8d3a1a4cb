// The app's side of the certificate request, for the plug-in's tests: run as the desktop's opener with the
// link, it notes the link and posts the app's notifications at the given times.
//   acrobat_test_app --record FILE [--post NAME@MILLISECONDS]... LINK...
// Each link is appended to FILE on a line of its own; each NAME is posted that many milliseconds after the
// start, in the order given; then a line is appended to FILE.finished.
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/DarwinNotify.h"

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    std::string record;
    std::vector<std::pair<std::string, std::chrono::milliseconds>> posts;
    std::vector<std::string> links;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--record" && i + 1 < argc) {
            record = argv[++i];
        } else if (argument == "--post" && i + 1 < argc) {
            const std::string post = argv[++i];
            const auto at = post.rfind('@');
            if (at == std::string::npos) {
                std::cerr << "acrobat_test_app: bad --post " << post << '\n';
                return 64;
            }
            posts.emplace_back(post.substr(0, at), std::chrono::milliseconds(std::stol(post.substr(at + 1))));
        } else {
            links.push_back(argument);
        }
    }
    if (record.empty()) {
        std::cerr << "acrobat_test_app: no --record\n";
        return 64;
    }
    {
        std::ofstream file(record, std::ios::app);
        for (const auto& link : links)
            file << link << '\n';
    }
    for (const auto& [name, delay] : posts) {
        std::this_thread::sleep_until(start + delay);
        if (!platform::DarwinNotify::post(name)) {
            std::cerr << "acrobat_test_app: could not post " << name << '\n';
            return 1;
        }
    }
    std::ofstream(record + ".finished", std::ios::app) << "finished\n";
    return 0;
}
