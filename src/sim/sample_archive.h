// Archives for the tests, the demo and the benchmarks, written with
// libarchive: zip or 7z, with files, folders and links of any name, so that
// hostile archives (names leaving the folder, links pointing out) can be made
// as easily as good ones.
#pragma once

#include <string>
#include <vector>

namespace orvane::sim {

struct ArchiveItem {
  enum class Kind { File, Folder, Symlink, Hardlink };
  std::string name;  // written as given
  std::string data;  // a file's contents
  Kind kind = Kind::File;
  std::string target;  // a link's target
};

inline ArchiveItem FileItem(std::string name, std::string data) {
  return {std::move(name), std::move(data), ArchiveItem::Kind::File, {}};
}
inline ArchiveItem LinkItem(std::string name, std::string target) {
  return {std::move(name), {}, ArchiveItem::Kind::Symlink, std::move(target)};
}

// Writes `items` to `path` as a zip ("*.zip", deflated) or a 7z ("*.7z");
// `stored` keeps zip entries uncompressed. False with `error` otherwise.
bool WriteArchive(const std::string& path, const std::vector<ArchiveItem>& items, std::string* error,
                  bool stored = false);

// Writes plain files as a RAR 4 archive with the "store" method (no RAR
// compressor exists among the project's tools). False with `error` when a
// file is too large for the format's 32-bit sizes.
bool WriteStoredRar(const std::string& path, const std::vector<ArchiveItem>& files, std::string* error);

}  // namespace orvane::sim
