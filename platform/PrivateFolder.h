#pragma once
// Per-user folders for sockets and locks: under $XDG_RUNTIME_DIR, made with mode 0700 and used only when they
// are the user's own folder that no one else can enter.
#include <filesystem>
#include <string>

namespace platform {

// "$XDG_RUNTIME_DIR/<name>", or "/tmp/<name>-<uid>" when XDG_RUNTIME_DIR is unset or not absolute. The folder
// is not made.
std::filesystem::path runtimeFolder(const std::string& name);

// Makes the folder with mode 0700 unless it exists; either way true only when it is a real folder (not a
// link) owned by this user with no access for anyone else.
bool ensurePrivateFolder(const std::filesystem::path& folder);

}  // namespace platform
