#pragma once
// What the targets share: a failed property stops the run with its reason, as a crash would.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(condition, what)                                                                          \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: property failed: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

namespace fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzz
