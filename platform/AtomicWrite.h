#pragma once
// Writing a file whole or not at all: the contents go to a temporary file in the target's folder (made with
// mkstemp by the caller, who picks its name), which is flushed to disk and then renamed over the target.
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// Gives the temporary file `fd` (at `temp`) mode 0600, writes the contents, flushes and closes it and renames
// it over `target`. On failure the temporary file is removed and errno holds the error of the step that
// failed.
bool replaceWithTemporaryFile(int fd, const std::string& temp, const std::filesystem::path& target,
                              std::string_view contents);

}  // namespace platform
