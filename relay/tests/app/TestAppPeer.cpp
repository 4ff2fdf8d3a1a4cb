// A test app peer as a program of its own, for end-to-end runs where every party must run as one user: serves
// sign requests one after another with ECDSA signatures made by its key, and appends each hash (hex) to a
// file.
//   relay_test_app <private key PEM> <number of requests> <record file>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "relay/testing/RelayTestSupport.h"

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    FILE* file = std::fopen(argv[1], "r");
    if (!file)
        return 3;
    std::shared_ptr<EVP_PKEY> key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::fclose(file);
    if (!key)
        return 3;
    auto count = static_cast<std::size_t>(std::atoi(argv[2]));
    relaytest::ServingApp app(key);
    if (!app.waitForRequests(count, std::chrono::seconds(30)))
        return 4;
    std::ofstream record(argv[3], std::ios::app);
    for (const auto& request : app.requests()) {
        for (auto byte : request.hash) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", byte);
            record << hex;
        }
        record << "\n";
    }
    return 0;
}
