#include "core/update/update_writer.h"

#include <algorithm>

#include "core/device/byte_sum.h"
#include "core/util/bytes.h"

namespace orvane {

namespace {

void Append32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

template <size_t N>
void Finish(std::array<uint8_t, N>& record, std::vector<uint8_t>& file) {
  constexpr size_t covered = N - 4;
  StoreLE32<0>(record, uint32_t(covered));
  StoreLE32<covered>(record, ByteSum(record.data(), covered));
  UnscrambleTrailer(record.data(), N);  // scrambling is the same XOR
  file.insert(file.end(), record.begin(), record.end());
}

template <size_t N>
void PutPairs(std::array<uint8_t, N>& record, size_t at, const UpdateFileHeader& h) {
  for (size_t i = 0; i < 5; ++i) {
    StoreLE32At(record.data() + at + i * 8, h.SectionOffset(i));
    StoreLE32At(record.data() + at + i * 8 + 4, h.SectionLength(i));
  }
}

}  // namespace

std::vector<uint8_t> BuildDeviceDirectory(int32_t kind, const std::vector<DirectoryBlock>& blocks) {
  std::vector<uint8_t> out;
  const uint32_t count = uint32_t(blocks.size());
  size_t entrySize = kPlainEntrySize;
  if (kind == kDirectoryHeaded) {
    std::array<uint8_t, kHeadedDirectoryHeader> head{};
    StoreLE32<4>(head, kDirectoryMagic);
    StoreLE32<12>(head, count);
    StoreLE32<56>(head, ByteSum(head.data(), 56));
    out.assign(head.begin(), head.end());
    entrySize = kHeadedEntrySize;
  } else {
    Append32(out, count);
  }
  uint64_t blockOffset = out.size() + uint64_t(count) * entrySize;
  for (const DirectoryBlock& b : blocks) {
    const size_t start = out.size();
    Append32(out, b.key);
    Append32(out, uint32_t(blockOffset));
    Append32(out, uint32_t(b.data.size()));
    Append32(out, 0);
    if (kind == kDirectoryHeaded) Append32(out, b.reservedSize);
    out.resize(start + entrySize, 0);
    blockOffset += b.data.size();
  }
  for (const DirectoryBlock& b : blocks) out.insert(out.end(), b.data.begin(), b.data.end());
  return out;
}

std::optional<std::vector<uint8_t>> BuildUpdateFile(const UpdateFileContents& contents, std::string* error) {
  auto fail = [&](const char* why) -> std::optional<std::vector<uint8_t>> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (contents.brand.size() > 256) return fail("the brand text is longer than 256 bytes");
  if (contents.form != TrailerForm::Form520 && !contents.sections[5].empty())
    return fail("the 320- and 304-byte trailers have no section 5");
  if (contents.form == TrailerForm::None) return fail("no trailer form");

  std::array<std::vector<uint8_t>, kUpdateSections> sections = contents.sections;
  if (contents.directoryKind != kDirectoryNone)
    sections[1] = BuildDeviceDirectory(contents.directoryKind, contents.blocks);

  UpdateFileHeader h;
  h.Version = contents.version;
  std::copy(contents.brand.begin(), contents.brand.end(), h.Brand.begin());
  std::vector<uint8_t> file;
  for (size_t i = 0; i < kUpdateSections; ++i) {
    if (sections[i].empty()) continue;
    if (file.size() + sections[i].size() > UINT32_MAX) return fail("the file would pass 4 GiB");
    h.SectionOffset(i) = uint32_t(file.size());
    h.SectionLength(i) = uint32_t(sections[i].size());
    file.insert(file.end(), sections[i].begin(), sections[i].end());
  }

  switch (contents.form) {
    case TrailerForm::Form520: {
      h.Seal();
      UpdateFileHeader::Bytes b = h.Store();
      UnscrambleTrailer(b.data(), b.size());
      file.insert(file.end(), b.begin(), b.end());
      break;
    }
    case TrailerForm::Form320: {
      std::array<uint8_t, kTrailer320Size> r{};
      std::copy(h.Brand.begin(), h.Brand.end(), r.begin() + 8);
      PutPairs(r, 264, h);
      Finish(r, file);
      break;
    }
    case TrailerForm::Form304: {
      std::array<uint8_t, kTrailer304Size> r{};
      std::copy(h.Brand.begin(), h.Brand.end(), r.begin() + 4);
      PutPairs(r, 260, h);
      Finish(r, file);
      break;
    }
    case TrailerForm::None: break;
  }
  return file;
}

}  // namespace orvane
