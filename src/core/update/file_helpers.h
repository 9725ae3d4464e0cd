// File-system helpers of the update job: the existence test, the walk that
// looks for the update file, and the removal of a folder tree. Paths are
// plain strings of any length; walks go through directory descriptors and
// never follow a symbolic link.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvane {

// Attributes handed to a FindFiles callback.
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrSymlink = 0x400;  // the link itself, never followed
inline constexpr uint32_t kAttrOther = 0x1000;   // fifo, socket, device node

// The extension of update files, compared in lower case.
inline constexpr const char* kUpdateFileExtension = "qzv";

// False for an empty path; otherwise whether `path` is a file that can be
// opened for reading (it is closed again at once).
bool FileExists(const std::string& path);

// Receives an entry's full path, its attributes and the walk's result; a
// non-zero return stops the walk of the current folder.
using FindCallback = std::function<int(const std::string& path, uint32_t attributes, std::string& result)>;

// Walks `folder`: -1 when it cannot be listed, else the number of callback
// calls made, those in subfolders included. Entries come in byte order of
// their names, "." and ".." first, so the choice among several update files
// does not depend on the file system. With `recurse`, a subfolder is walked
// where it is listed (never through a symbolic link) and "." and ".." are
// skipped; without it, every entry goes to the callback.
int FindFiles(const std::string& folder, const FindCallback& callback, bool recurse, std::string& result);

// The callback for update files: 1 (and `result` = `path`) for a regular file
// whose extension is "qzv" in any case, else 0. Folders and links never match.
int IsUpdateFile(const std::string& path, uint32_t attributes, std::string& result);

// One entry of an open folder, for walks that work on descriptors.
struct DirEntry {
  std::string name;
  uint32_t attributes = 0;  // 0 for a regular file
};
// The entries of the open folder `dirfd` (which stays open and usable),
// without "." and "..", in byte order of their names. False when it cannot be
// read.
bool ListFolderAt(int dirfd, std::vector<DirEntry>& out);

// Removes `folder` with everything in it. A symbolic link is removed, never
// its target; failures are ignored (what cannot be removed stays).
void DeleteTree(const std::string& folder);

}  // namespace orvane
