#include "core/update/file_helpers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orvane {

namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

uint32_t AttributesOf(mode_t mode) {
  if (S_ISDIR(mode)) return kAttrDirectory;
  if (S_ISLNK(mode)) return kAttrSymlink;
  if (S_ISREG(mode)) return 0;
  return kAttrOther;
}

uint32_t AttributesOf(int dirfd, const dirent& e) {
  switch (e.d_type) {
    case DT_DIR: return kAttrDirectory;
    case DT_LNK: return kAttrSymlink;
    case DT_REG: return 0;
    case DT_UNKNOWN: break;
    default: return kAttrOther;
  }
  struct stat st {};
  if (::fstatat(dirfd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return kAttrOther;
  return AttributesOf(st.st_mode);
}

std::string WithSlash(const std::string& folder) {
  return (!folder.empty() && folder.back() == '/') ? folder : folder + "/";
}

int FindFilesAt(int dirfd, const std::string& folder, const FindCallback& callback, bool recurse,
                std::string& result) {
  std::vector<DirEntry> entries;
  if (!ListFolderAt(dirfd, entries)) return -1;
  // The folder's own entries come first, as the listing gives them.
  entries.insert(entries.begin(), {{".", kAttrDirectory}, {"..", kAttrDirectory}});
  const std::string prefix = WithSlash(folder);
  int count = 0;
  for (const DirEntry& e : entries) {
    const std::string path = prefix + e.name;
    if (recurse && e.attributes == kAttrDirectory) {
      if (e.name == "." || e.name == "..") continue;
      const int sub = ::openat(dirfd, e.name.c_str(), kOpenFolder);
      if (sub < 0) continue;
      const int n = FindFilesAt(sub, path + "/", callback, recurse, result);
      ::close(sub);
      if (n > 0) count += n;
      continue;
    }
    ++count;
    if (callback(path, e.attributes, result) != 0) break;
  }
  return count;
}

void DeleteContentsAt(int dirfd) {
  std::vector<DirEntry> entries;
  if (!ListFolderAt(dirfd, entries)) return;
  for (const DirEntry& e : entries) {
    if (e.attributes == kAttrDirectory) {
      const int sub = ::openat(dirfd, e.name.c_str(), kOpenFolder);
      if (sub >= 0) {
        DeleteContentsAt(sub);
        ::close(sub);
      }
      ::unlinkat(dirfd, e.name.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(dirfd, e.name.c_str(), 0);
    }
  }
}

}  // namespace

bool ListFolderAt(int dirfd, std::vector<DirEntry>& out) {
  out.clear();
  const int fd = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") out.push_back({name, AttributesOf(dirfd, *e)});
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  const bool file = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  ::close(fd);
  return file;
}

int FindFiles(const std::string& folder, const FindCallback& callback, bool recurse, std::string& result) {
  if (folder.empty()) return -1;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int n = FindFilesAt(fd, folder, callback, recurse, result);
  ::close(fd);
  return n;
}

int IsUpdateFile(const std::string& path, uint32_t attributes, std::string& result) {
  if (attributes != 0) return 0;  // folders, links and special files
  const size_t dot = path.rfind('.');
  const std::string ext = dot == std::string::npos ? path : path.substr(dot + 1);
  std::string lower = ext;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  if (lower != kUpdateFileExtension) return 0;
  result = path;
  return 1;
}

void DeleteTree(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty()) return;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    ::unlink(path.c_str());  // a link at the folder's name goes, its target stays
    return;
  }
  const int fd = ::open(path.c_str(), kOpenFolder);
  if (fd >= 0) {
    DeleteContentsAt(fd);
    ::close(fd);
  }
  ::rmdir(path.c_str());
}

}  // namespace orvane
