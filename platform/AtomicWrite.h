#pragma once
// Writing a file whole or not at all: the contents go to a temporary file in the target's folder, which is
// flushed to disk and then renamed over the target.
//
// A writer that dies part-way leaves its temporary file behind. replaceFileAtomically holds a lock (flock) on
// its temporary file for as long as the file has its temporary name, so the next write can tell a file that
// was abandoned (nobody holds it) from one that another process is writing at that moment, and removes only
// the abandoned ones.
#include <filesystem>
#include <string_view>

namespace platform {

// Writes `contents` to `target` through a temporary file named `temporaryPrefix` + six letters or digits in
// the target's folder (mode 0600), then flushes the folder so that the rename lasts too. Before writing, it
// removes the abandoned temporary files of that prefix from the folder (removeAbandonedTemporaryFiles). False
// on failure, with errno set: the target is then unchanged and the temporary file is gone.
bool replaceFileAtomically(const std::filesystem::path& target, std::string_view temporaryPrefix,
                           std::string_view contents);

// Removes from `folder` the temporary files of replaceFileAtomically with this prefix that no writer holds.
// Nothing else is touched: other names, folders, links and other users' files stay.
void removeAbandonedTemporaryFiles(const std::filesystem::path& folder, std::string_view temporaryPrefix);

}  // namespace platform
