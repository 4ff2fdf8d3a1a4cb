#pragma once
// The user's own folders (the XDG base directories) and the check that keeps per-user state out of other
// users' reach: a folder that another user made first, or a link planted in its place, is never used.
#include <filesystem>

namespace platform {

// $HOME, else the password database's entry for the user.
std::filesystem::path homeFolder();
// $XDG_CONFIG_HOME, $XDG_DATA_HOME and $XDG_STATE_HOME when they hold an absolute path, else ~/.config,
// ~/.local/share and ~/.local/state.
std::filesystem::path configHome();
std::filesystem::path dataHome();
std::filesystem::path stateHome();
// Where the user's sockets and locks live: $XDG_RUNTIME_DIR when it holds an absolute path, else the login
// manager's /run/user/<uid> when that is the user's own folder, else <state home>/quorvane/runtime.
std::filesystem::path runtimeFolder();

// Makes the folder, and any missing parent, with mode 0700; a folder of the user's that already exists is
// narrowed to 0700. False when the folder is not a real folder (a link, a file) owned by the user, or cannot
// be made.
bool makePrivateFolder(const std::filesystem::path& folder);

}  // namespace platform
