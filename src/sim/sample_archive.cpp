#include "sim/sample_archive.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace orvane::sim {

namespace {

struct WriteDeleter {
  void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryDeleter {
  void operator()(archive_entry* e) const { archive_entry_free(e); }
};

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool Fail(archive* a, std::string* error, const std::string& what) {
  if (error) *error = what + ": " + (a && archive_error_string(a) ? archive_error_string(a) : "failed");
  return false;
}

}  // namespace

bool WriteArchive(const std::string& path, const std::vector<ArchiveItem>& items, std::string* error,
                  bool stored) {
  std::unique_ptr<archive, WriteDeleter> a(archive_write_new());
  if (!a) return Fail(nullptr, error, "archive_write_new");
  int r;
  if (EndsWith(path, ".7z")) {
    r = archive_write_set_format_7zip(a.get());
  } else {
    r = archive_write_set_format_zip(a.get());
    if (r == ARCHIVE_OK && stored) r = archive_write_zip_set_compression_store(a.get());
  }
  if (r != ARCHIVE_OK) return Fail(a.get(), error, "format");
  if (archive_write_open_filename(a.get(), path.c_str()) != ARCHIVE_OK) return Fail(a.get(), error, path);
  for (const ArchiveItem& item : items) {
    std::unique_ptr<archive_entry, EntryDeleter> e(archive_entry_new());
    archive_entry_set_pathname(e.get(), item.name.c_str());
    archive_entry_set_mtime(e.get(), 1700000000, 0);
    switch (item.kind) {
      case ArchiveItem::Kind::File:
        archive_entry_set_filetype(e.get(), AE_IFREG);
        archive_entry_set_perm(e.get(), 0644);
        archive_entry_set_size(e.get(), la_int64_t(item.data.size()));
        break;
      case ArchiveItem::Kind::Folder:
        archive_entry_set_filetype(e.get(), AE_IFDIR);
        archive_entry_set_perm(e.get(), 0755);
        break;
      case ArchiveItem::Kind::Symlink:
        archive_entry_set_filetype(e.get(), AE_IFLNK);
        archive_entry_set_perm(e.get(), 0777);
        archive_entry_set_symlink(e.get(), item.target.c_str());
        break;
      case ArchiveItem::Kind::Hardlink:
        archive_entry_set_filetype(e.get(), AE_IFREG);
        archive_entry_set_perm(e.get(), 0644);
        archive_entry_set_hardlink(e.get(), item.target.c_str());
        break;
    }
    if (archive_write_header(a.get(), e.get()) < ARCHIVE_WARN) return Fail(a.get(), error, item.name);
    if (item.kind == ArchiveItem::Kind::File && !item.data.empty() &&
        archive_write_data(a.get(), item.data.data(), item.data.size()) != la_ssize_t(item.data.size()))
      return Fail(a.get(), error, item.name);
  }
  if (archive_write_close(a.get()) != ARCHIVE_OK) return Fail(a.get(), error, "close");
  return true;
}

}  // namespace orvane::sim
