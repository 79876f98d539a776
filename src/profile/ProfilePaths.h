#pragma once
// Where the profile files live when the program's own folder will not do: the user's XDG base
// directories, and the private folders that may have to be made for them.
#include <functional>
#include <string>

// `$variable` when it holds an absolute path (a relative one is to be ignored, or the file would
// follow the working directory), else `underHome` below the user's home directory ($HOME, or the
// password database when that is unset).
std::string Xdg_Base_Directory(const char* variable, const char* underHome);

// Runs `write`, an update of the profile file at `path`, after making the folders above `path`
// that are missing, each with mode 0700 as the XDG rules ask. When the file then cannot be made
// because a folder is missing, the EProfileError names the folder's own failure as its reason.
void With_Parent_Folders(const std::string& path, const std::function<void()>& write);
