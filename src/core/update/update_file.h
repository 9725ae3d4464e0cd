// Update files (".qzv"): up to six sections of raw data anywhere in the file,
// and a trailer record as the file's last bytes that says where they lie. The
// trailer is XOR-scrambled with an 8-byte key and protected by a byte sum; it
// comes in three forms (520, 320 and 304 bytes), all converted into the
// 520-byte UpdateFileHeader. Section 1 is a directory of device-specific
// blocks; only the block for the connected device is sent.
//
// Everything here reads through UpdateSource and checks every offset against
// the file's size: a damaged file is refused, never read out of bounds.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/settings/device_records.h"

namespace orvane {

inline constexpr size_t kUpdateHeaderSize = 520;
inline constexpr size_t kTrailer320Size = 320;
inline constexpr size_t kTrailer304Size = 304;
inline constexpr size_t kUpdateSections = 6;
inline constexpr uint32_t kMinUpdateVersion = 3;
inline constexpr char kTrailerKey[8] = {'K', 'O', 'L', 'B', 'R', 'E', 'N', 'T'};

// Upper bounds of the 304-byte form's section lengths (sections 0, 2, 3, 4).
inline constexpr uint32_t kLegacyLimitSection0 = 0x8000;
inline constexpr uint32_t kLegacyLimitSection2 = 0xC8000;
inline constexpr uint32_t kLegacyLimitSection3 = 0x200000;
inline constexpr uint32_t kLegacyLimitSection4 = 0x522000;

// Device directory (section 1).
inline constexpr uint32_t kDirectoryMagic = 0x6C1E93A5;
inline constexpr size_t kHeadedDirectoryHeader = 60;
inline constexpr size_t kHeadedEntrySize = 220;
inline constexpr size_t kPlainEntrySize = 16;
// No real directory comes near this; a larger count marks a damaged file.
inline constexpr uint32_t kMaxDirectoryEntries = 4096;

enum DirectoryKind : int32_t { kDirectoryNone = 0, kDirectoryHeaded = 1, kDirectoryPlain = -1 };

// XOR with the trailer key, byte j with key byte j % 8; its own inverse.
void UnscrambleTrailer(uint8_t* record, size_t length);

// The 520-byte trailer form, which the other two are converted into.
struct UpdateFileHeader {
  using Bytes = std::array<uint8_t, kUpdateHeaderSize>;

  uint32_t Size = 516;
  uint32_t Version = 0;
  std::array<uint8_t, 256> Brand{};
  uint32_t Section0Offset = 0, Section0Length = 0;
  uint32_t Section1Offset = 0, Section1Length = 0;
  uint32_t Section2Offset = 0, Section2Length = 0;
  uint32_t Section3Offset = 0, Section3Length = 0;
  uint32_t Section4Offset = 0, Section4Length = 0;
  uint32_t Section5Offset = 0, Section5Length = 0;
  std::array<uint8_t, 204> Reserved{};
  uint32_t Checksum = 0;

  uint32_t& SectionOffset(size_t i);
  uint32_t& SectionLength(size_t i);
  uint32_t SectionOffset(size_t i) const;
  uint32_t SectionLength(size_t i) const;

  // Unscrambled record bytes; Store() leaves Checksum as it is, Seal() sets it.
  static UpdateFileHeader Load(const Bytes& bytes);
  Bytes Store() const;
  void Seal();
};

// Random access to an update file; reads outside the file fail.
class UpdateSource {
 public:
  virtual ~UpdateSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly `length` bytes at `offset`; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, uint8_t* dest, size_t length) = 0;
};

class MemoryUpdateSource final : public UpdateSource {
 public:
  explicit MemoryUpdateSource(std::span<const uint8_t> data) : m_data(data) {}
  uint64_t Size() const override { return m_data.size(); }
  bool ReadAt(uint64_t offset, uint8_t* dest, size_t length) override;

 private:
  std::span<const uint8_t> m_data;
};

// A file opened for binary reading; the caller keeps it open.
class FileUpdateSource final : public UpdateSource {
 public:
  explicit FileUpdateSource(std::FILE* file);
  uint64_t Size() const override { return m_size; }
  bool ReadAt(uint64_t offset, uint8_t* dest, size_t length) override;

 private:
  std::FILE* m_file;
  uint64_t m_size = 0;
};

enum class TrailerForm { None = 0, Form520 = 520, Form320 = 320, Form304 = 304 };

struct TrailerRead {
  TrailerForm form = TrailerForm::None;
  UpdateFileHeader header;  // converted; Version 3 for 320, 1 for 304
};

// Steps 2 to 4 of reading a file: the first trailer form, tried from the
// largest, whose size field and sum match. None when no form matches.
TrailerRead ReadTrailer(UpdateSource& file);

struct DirectoryEntry {
  uint32_t Key = 0;
  uint32_t Offset = 0;  // relative to Section1Offset
  uint32_t Length = 0;
  uint32_t ReservedSize = 0;  // headed form only
};

struct DeviceDirectory {
  int32_t kind = kDirectoryNone;
  std::vector<DirectoryEntry> entries;  // in file order
};

// Reads the directory at `offset`: headed when its 60-byte header carries the
// magic word and a matching sum, else plain. Nullopt when the count exceeds
// kMaxDirectoryEntries or the entries run past the end of the file.
std::optional<DeviceDirectory> ReadDeviceDirectory(UpdateSource& file, uint32_t offset);

// The 32-bit key naming the connected device's model, from its settings page
// (generation 2 and up) or its brand page (older).
uint32_t DeviceKey(const DeviceRecords& records);

// The first entry whose key matches; else the only entry of a one-entry
// directory; else none.
std::optional<size_t> SelectDirectoryEntry(const DeviceDirectory& directory, uint32_t key);

// What reading a file hands on to the area planning.
struct UpdateFileChoice {
  int32_t m_nDirectoryKind = kDirectoryNone;
  uint32_t m_nReservedSize = 0;
};

// Reads and checks the trailer and resolves section 1 to the device block of
// the connected device. 0 when the file is usable, -1 when it is not: no
// trailer form, version below 3, a section or the selected block outside the
// file, a directory that does not fit the file. On success `header` is
// complete and Section1Offset/Section1Length describe the selected block (both
// 0 when none applies).
int ReadUpdateHeader(UpdateSource& file, const DeviceRecords& device, UpdateFileHeader& header,
                     UpdateFileChoice& choice);

// "RKTS" style texts of keys and model words; bytes outside printable ASCII as \xNN.
std::string KeyText(uint32_t key);
// A key from up to 4 characters (padded with spaces) or a 0x-prefixed number.
std::optional<uint32_t> ParseKey(const std::string& text);

}  // namespace orvane
