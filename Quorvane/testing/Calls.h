#pragma once
// One operation of a configurable double: the requests it was called with, how many of them have been
// answered (with a reply or a failure), the error that every call fails with while it is set, and a gate that
// holds the calls while it is closed.
#include <optional>
#include <vector>

#include "Gate.h"
#include "api/HalcyraError.h"

namespace testsupport {

template <class Request>
struct Calls {
    std::vector<Request> requests;
    int answered = 0;
    std::optional<halcyra::HalcyraError> error;
    Gate gate;

    int started() const { return static_cast<int>(requests.size()); }

    // Counts the call as answered when the call ends, however it ends.
    struct Answering {
        explicit Answering(Calls& calls) : calls(calls) {}
        ~Answering() { ++calls.answered; }
        Answering(const Answering&) = delete;
        Answering& operator=(const Answering&) = delete;
        Calls& calls;
    };

    // Fails with the error, when one is set.
    void failIfSet() const {
        if (error)
            throw *error;
    }
};

}  // namespace testsupport
