// The stand-in card-reader bridge program (see StandInBridge.h).
#include <exception>
#include <iostream>

#include "StandInBridge.h"

int main() {
    try {
        return bridge::run();
    } catch (const std::exception& e) {
        // A setup of the wrong shape: the exchange ends without a reply.
        std::cerr << "bridge: " << e.what() << "\n";
        return 2;
    }
}
