#pragma once
// Opens URLs for Qt programs through QProcess (xdg-open started detached, its output discarded), so that no
// fork happens inside the Qt process and Qt reaps what it starts.
namespace platform {

// Makes Workspace::open use the Qt opener in this process.
void installQtWorkspaceOpener();

}  // namespace platform
