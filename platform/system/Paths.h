// Where the system keeps its files on Linux, and how its Windows-style paths
// are opened here.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// $LORVETH_STATE_DIR, default /var/lib/lorveth: persistent state.
std::string StateDirectory();
// $LORVETH_RUNTIME_DIR, default /run/lorveth: state that a reboot empties.
std::string RuntimeDirectory();
// Creates a directory and its parents (mode 0755); true if it exists afterwards.
bool MakeDirectories(const std::string& path);

// Paths read from the registry and built by the agent are joined with "\", as
// Windows writes them; they are opened here with every "\" turned into "/".
std::string ToNativePath(std::string_view path);

}  // namespace platform
