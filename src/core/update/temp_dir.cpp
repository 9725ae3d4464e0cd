#include "core/update/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvane {

namespace {

bool SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// Makes sure `path` is a directory of ours that nobody else may enter,
// without following a symlink at its name.
bool EnsurePrivateDir(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return SetError(error, "cannot create " + path + ": " + std::strerror(errno));
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return SetError(error, path + " is not a usable directory: " + std::strerror(errno));
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    SetError(error, "cannot inspect " + path + ": " + std::strerror(errno));
  } else if (st.st_uid != ::geteuid()) {
    ok = SetError(error, path + " belongs to another user");
  } else if ((st.st_mode & 0077) != 0 && ::fchmod(fd, 0700) != 0) {
    ok = SetError(error, "cannot make " + path + " private: " + std::strerror(errno));
  }
  ::close(fd);
  return ok;
}

}  // namespace

std::string PrivateTempDir(std::string* error) {
  std::string dir;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    dir = std::string(runtime) + "/orvane";
  } else {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && tmp[0] == '/') ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    dir = base + "/orvane-" + std::to_string(::geteuid());
  }
  if (!EnsurePrivateDir(dir, error)) return std::string();
  return dir + "/";
}

std::string MakeTempPath(std::string_view name, std::string* error) {
  std::string dir = PrivateTempDir(error);
  if (dir.empty()) return dir;
  return dir + std::string(name);
}

}  // namespace orvane
