#include "profile/ProfilePaths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "profile/ProfileFile.h"

std::string Xdg_Base_Directory(const char* variable, const char* underHome) {
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return value;
  const char* home = std::getenv("HOME");
  std::string base = (home && home[0]) ? home : "";
  if (base.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) base = pw->pw_dir;
  }
  return base + "/" + underHome;
}

void With_Parent_Folders(const std::string& path, const std::function<void()>& write) {
  int folderError = 0;  // the first folder that could not be made
  for (auto slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST && !folderError)
      folderError = errno;
  }
  try {
    write();
  } catch (const EProfileError& e) {
    if (e.error() == ENOENT && folderError != 0) throw EProfileError(e.path(), folderError);
    throw;
  }
}
