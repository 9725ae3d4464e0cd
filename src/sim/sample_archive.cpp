#include "sim/sample_archive.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <cstdio>
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

namespace {

uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void Put16(std::string& out, uint32_t v) {
  out += char(v & 0xFF);
  out += char((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A block: its CRC (low 16 bits of the CRC-32 of everything after it), then
// `body` (type, flags, size and the rest).
std::string Block(const std::string& body) {
  std::string out;
  Put16(out, Crc32(body) & 0xFFFF);
  return out + body;
}

}  // namespace

bool WriteStoredRar(const std::string& path, const std::vector<ArchiveItem>& files, std::string* error) {
  std::string out = "Rar!\x1A\x07";
  out += '\0';
  std::string main;
  main += char(0x73);  // archive header
  Put16(main, 0);
  Put16(main, 13);
  Put16(main, 0);
  Put32(main, 0);
  out += Block(main);
  for (const ArchiveItem& f : files) {
    if (f.data.size() > 0xFFFFFFFFu || f.name.size() > 0xFFFF) {
      if (error) *error = f.name + " is too large for a RAR 4 archive";
      return false;
    }
    std::string head;
    head += char(0x74);  // file header
    Put16(head, 0x8000);  // data follows the header
    Put16(head, uint32_t(32 + f.name.size()));
    Put32(head, uint32_t(f.data.size()));  // packed
    Put32(head, uint32_t(f.data.size()));  // unpacked
    head += char(3);                       // made on Unix
    Put32(head, Crc32(f.data));
    Put32(head, 0x58210000);  // 2024-01-01 as a DOS time
    head += char(20);         // version needed: 2.0
    head += char(0x30);       // stored
    Put16(head, uint32_t(f.name.size()));
    Put32(head, 0100644);
    head += f.name;
    out += Block(head) + f.data;
  }
  std::string end;
  end += char(0x7B);  // end of archive
  Put16(end, 0x4000);
  Put16(end, 7);
  out += Block(end);
  FILE* file = std::fopen(path.c_str(), "wb");
  const bool ok = file && std::fwrite(out.data(), 1, out.size(), file) == out.size();
  if (file && std::fclose(file) != 0) return false;
  if (!ok && error) *error = "cannot write " + path;
  return ok;
}

}  // namespace orvane::sim
