#pragma once
// Every function of the plug-in that the host calls runs its body through guarded(): the host is not C++ and
// cannot catch an exception, so none may leave the plug-in. A body that throws gives the zero of its result
// type, which is each entry's failure: false, no table, no callback.
#include <type_traits>
#include <utility>

namespace acrobat {

template <class Body>
std::invoke_result_t<Body> guarded(Body&& body) noexcept {
    using Result = std::invoke_result_t<Body>;
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        if constexpr (!std::is_void_v<Result>)
            return Result{};
    }
}

}  // namespace acrobat
