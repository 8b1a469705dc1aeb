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

// State files (registry databases, table files, record databases) are
// readable and writable by their owner and the service group only: the group
// kServiceGroup where it exists, else the owner's own group.
inline constexpr const char* kServiceGroup = "lorveth";

// Gives an open file the state-file mode (0660) and, where the service group
// exists and this process may, that group.  False if the mode could not be set.
bool RestrictStateFile(int fd);

// Creates `path` as an empty state file unless it exists, so that a database
// library opening it afterwards (and the journal files it derives from it)
// keeps the state-file mode whatever the umask.  False (errno set) if it
// neither existed nor could be created.
bool CreateStateFile(const std::string& path);

// Paths read from the registry and built by the agent are joined with "\", as
// Windows writes them; they are opened here with every "\" turned into "/".
std::string ToNativePath(std::string_view path);

}  // namespace platform
