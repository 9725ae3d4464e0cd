#include "core/update/update_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "core/brands.h"
#include "core/device/byte_sum.h"
#include "core/util/bytes.h"

namespace orvane {

namespace {

constexpr uint32_t UpdateFileHeader::*kOffsets[kUpdateSections] = {
    &UpdateFileHeader::Section0Offset, &UpdateFileHeader::Section1Offset,
    &UpdateFileHeader::Section2Offset, &UpdateFileHeader::Section3Offset,
    &UpdateFileHeader::Section4Offset, &UpdateFileHeader::Section5Offset};
constexpr uint32_t UpdateFileHeader::*kLengths[kUpdateSections] = {
    &UpdateFileHeader::Section0Length, &UpdateFileHeader::Section1Length,
    &UpdateFileHeader::Section2Length, &UpdateFileHeader::Section3Length,
    &UpdateFileHeader::Section4Length, &UpdateFileHeader::Section5Length};

constexpr uint32_t Word4(const char* s) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

// Reads the last `size` bytes and unscrambles them; false when the file is
// shorter than the record.
template <size_t N>
bool ReadTail(UpdateSource& file, std::array<uint8_t, N>& record) {
  if (file.Size() < N) return false;
  if (!file.ReadAt(file.Size() - N, record.data(), N)) return false;
  UnscrambleTrailer(record.data(), N);
  return true;
}

// Size field and sum of a record whose checksum covers its first `covered` bytes.
template <size_t N>
bool SumMatches(const std::array<uint8_t, N>& record) {
  constexpr size_t covered = N - 4;
  return LoadLE32<0>(record) == covered && LoadLE32<covered>(record) == ByteSum(record.data(), covered);
}

// Offset/length pairs of sections 0 to 4 starting at `at`.
template <size_t N>
void CopyPairs(const std::array<uint8_t, N>& record, size_t at, UpdateFileHeader& h) {
  for (size_t i = 0; i < 5; ++i) {
    h.SectionOffset(i) = LoadLE32At(record.data() + at + i * 8);
    h.SectionLength(i) = LoadLE32At(record.data() + at + i * 8 + 4);
  }
}

bool InFile(uint64_t fileSize, uint64_t offset, uint64_t length) {
  return offset <= fileSize && length <= fileSize - offset;
}

}  // namespace

void UnscrambleTrailer(uint8_t* record, size_t length) {
  for (size_t j = 0; j < length; ++j) record[j] ^= uint8_t(kTrailerKey[j % 8]);
}

uint32_t& UpdateFileHeader::SectionOffset(size_t i) { return this->*kOffsets[i % kUpdateSections]; }
uint32_t& UpdateFileHeader::SectionLength(size_t i) { return this->*kLengths[i % kUpdateSections]; }
uint32_t UpdateFileHeader::SectionOffset(size_t i) const { return this->*kOffsets[i % kUpdateSections]; }
uint32_t UpdateFileHeader::SectionLength(size_t i) const { return this->*kLengths[i % kUpdateSections]; }

UpdateFileHeader UpdateFileHeader::Load(const Bytes& b) {
  UpdateFileHeader h;
  h.Size = LoadLE32<0>(b);
  h.Version = LoadLE32<4>(b);
  std::copy_n(b.begin() + 8, h.Brand.size(), h.Brand.begin());
  for (size_t i = 0; i < kUpdateSections; ++i) {
    h.SectionOffset(i) = LoadLE32At(b.data() + 264 + i * 8);
    h.SectionLength(i) = LoadLE32At(b.data() + 268 + i * 8);
  }
  std::copy_n(b.begin() + 312, h.Reserved.size(), h.Reserved.begin());
  h.Checksum = LoadLE32<516>(b);
  return h;
}

UpdateFileHeader::Bytes UpdateFileHeader::Store() const {
  Bytes b{};
  StoreLE32<0>(b, Size);
  StoreLE32<4>(b, Version);
  std::copy(Brand.begin(), Brand.end(), b.begin() + 8);
  for (size_t i = 0; i < kUpdateSections; ++i) {
    StoreLE32At(b.data() + 264 + i * 8, SectionOffset(i));
    StoreLE32At(b.data() + 268 + i * 8, SectionLength(i));
  }
  std::copy(Reserved.begin(), Reserved.end(), b.begin() + 312);
  StoreLE32<516>(b, Checksum);
  return b;
}

void UpdateFileHeader::Seal() {
  Size = 516;
  const Bytes b = Store();
  Checksum = ByteSum(b.data(), 516);
}

bool MemoryUpdateSource::ReadAt(uint64_t offset, uint8_t* dest, size_t length) {
  if (!InFile(m_data.size(), offset, length)) return false;
  if (length) std::memcpy(dest, m_data.data() + offset, length);
  return true;
}

FileUpdateSource::FileUpdateSource(std::FILE* file) : m_file(file) {
  struct stat st {};
  if (m_file && fstat(fileno(m_file), &st) == 0 && S_ISREG(st.st_mode)) m_size = uint64_t(st.st_size);
}

bool FileUpdateSource::ReadAt(uint64_t offset, uint8_t* dest, size_t length) {
  if (!m_file || !InFile(m_size, offset, length)) return false;
  if (fseeko(m_file, off_t(offset), SEEK_SET) != 0) return false;
  return std::fread(dest, 1, length, m_file) == length;
}

TrailerRead ReadTrailer(UpdateSource& file) {
  TrailerRead out;
  std::array<uint8_t, kUpdateHeaderSize> r520;
  if (ReadTail(file, r520) && SumMatches(r520)) {
    out.form = TrailerForm::Form520;
    out.header = UpdateFileHeader::Load(r520);
    return out;
  }
  std::array<uint8_t, kTrailer320Size> r320;
  if (ReadTail(file, r320) && SumMatches(r320)) {
    out.form = TrailerForm::Form320;
    UpdateFileHeader& h = out.header;
    h.Version = 3;
    std::copy_n(r320.begin() + 8, h.Brand.size(), h.Brand.begin());
    CopyPairs(r320, 264, h);
    h.Seal();
    return out;
  }
  std::array<uint8_t, kTrailer304Size> r304;
  if (ReadTail(file, r304) && SumMatches(r304)) {
    UpdateFileHeader h;
    h.Version = 1;
    std::copy_n(r304.begin() + 4, h.Brand.size(), h.Brand.begin());
    CopyPairs(r304, 260, h);
    h.Seal();
    if (h.Section0Length <= kLegacyLimitSection0 && h.Section2Length <= kLegacyLimitSection2 &&
        h.Section3Length <= kLegacyLimitSection3 && h.Section4Length <= kLegacyLimitSection4) {
      out.form = TrailerForm::Form304;
      out.header = h;
    }
  }
  return out;
}

std::optional<DeviceDirectory> ReadDeviceDirectory(UpdateSource& file, uint32_t offset) {
  DeviceDirectory dir;
  uint64_t pos = offset;
  uint32_t count = 0;
  size_t entrySize = kPlainEntrySize;
  std::array<uint8_t, kHeadedDirectoryHeader> head{};
  if (file.ReadAt(offset, head.data(), head.size()) && LoadLE32<4>(head) == kDirectoryMagic &&
      LoadLE32<56>(head) == ByteSum(head.data(), 56)) {
    dir.kind = kDirectoryHeaded;
    count = LoadLE32<12>(head);
    entrySize = kHeadedEntrySize;
    pos += kHeadedDirectoryHeader;
  } else {
    std::array<uint8_t, 4> countBytes{};
    if (!file.ReadAt(offset, countBytes.data(), countBytes.size())) return std::nullopt;
    dir.kind = kDirectoryPlain;
    count = LoadLE32<0>(countBytes);
    pos += 4;
  }
  // The count comes from the file: check it against a bound and the file's
  // size before anything is allocated for it.
  if (count > kMaxDirectoryEntries || !InFile(file.Size(), pos, uint64_t(count) * entrySize))
    return std::nullopt;
  dir.entries.reserve(count);
  std::array<uint8_t, kHeadedEntrySize> slot{};
  for (uint32_t i = 0; i < count; ++i, pos += entrySize) {
    if (!file.ReadAt(pos, slot.data(), entrySize)) return std::nullopt;
    DirectoryEntry e;
    e.Key = LoadLE32<0>(slot);
    e.Offset = LoadLE32<4>(slot);
    e.Length = LoadLE32<8>(slot);
    e.ReservedSize = dir.kind == kDirectoryHeaded ? LoadLE32<16>(slot) : 0;
    dir.entries.push_back(e);
  }
  return dir;
}

uint32_t DeviceKey(const DeviceRecords& records) {
  if (records.m_nSettingsGen >= 2) return records.m_Settings.ModelWord(records.m_nSettingsGen);
  const std::string_view brand(reinterpret_cast<const char*>(records.m_szBrand.data()),
                               records.m_szBrand.size());
  if (brand.substr(0, brands::kBrand2.size()) == brands::kBrand2) return Word4("RKTS");
  if (brand.substr(0, 3) == "XVO") return Word4("XVO ");
  return 0;
}

std::optional<size_t> SelectDirectoryEntry(const DeviceDirectory& directory, uint32_t key) {
  for (size_t i = 0; i < directory.entries.size(); ++i)
    if (directory.entries[i].Key == key) return i;
  if (directory.entries.size() == 1) return 0;
  return std::nullopt;
}

int ReadUpdateHeader(UpdateSource& file, const DeviceRecords& device, UpdateFileHeader& header,
                     UpdateFileChoice& choice) {
  choice = UpdateFileChoice{};
  TrailerRead trailer = ReadTrailer(file);
  if (trailer.form == TrailerForm::None) return -1;
  if (trailer.header.Version < kMinUpdateVersion) return -1;
  UpdateFileHeader h = trailer.header;
  // Every section must lie inside the file; the senders read them later.
  for (size_t i = 0; i < kUpdateSections; ++i)
    if (h.SectionLength(i) != 0 && !InFile(file.Size(), h.SectionOffset(i), h.SectionLength(i)))
      return -1;

  UpdateFileChoice result;
  if (h.Section1Length != 0) {
    const std::optional<DeviceDirectory> dir = ReadDeviceDirectory(file, h.Section1Offset);
    if (!dir) return -1;
    result.m_nDirectoryKind = dir->kind;
    const std::optional<size_t> pick = SelectDirectoryEntry(*dir, DeviceKey(device));
    if (pick) {
      const DirectoryEntry& e = dir->entries[*pick];
      const uint64_t start = uint64_t(h.Section1Offset) + e.Offset;
      // The block is read from the file later: it must lie inside it, at an
      // offset the header's 32-bit fields can hold.
      if (e.Length != 0 && (start > UINT32_MAX || !InFile(file.Size(), start, e.Length))) return -1;
      h.Section1Offset = uint32_t(start);
      h.Section1Length = e.Length;
      result.m_nReservedSize = e.ReservedSize;
    } else {
      h.Section1Offset = 0;
      h.Section1Length = 0;
    }
  }
  header = h;
  choice = result;
  return 0;
}

std::string KeyText(uint32_t key) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = uint8_t(key >> (8 * i));
    if (c >= 0x20 && c < 0x7F) {
      text += char(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      text += esc;
    }
  }
  return text;
}

std::optional<uint32_t> ParseKey(const std::string& text) {
  if (text.size() > 4 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() > 10) return std::nullopt;
    uint32_t v = 0;
    for (size_t i = 2; i < text.size(); ++i) {
      const char c = text[i];
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else return std::nullopt;
      v = v << 4 | uint32_t(d);
    }
    return v;
  }
  if (text.empty() || text.size() > 4) return std::nullopt;
  char word[4] = {' ', ' ', ' ', ' '};
  std::memcpy(word, text.data(), text.size());
  return Word4(word);
}

}  // namespace orvane
