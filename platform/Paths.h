// Where the system keeps its files on Linux, and the path rules of its design.
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

// The design joins paths with "\" and opens them later: every "\" becomes "/".
std::string ToNativePath(std::string_view path);

}  // namespace platform
