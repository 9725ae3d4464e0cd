// Fuzz target: update-file reading from arbitrary bytes, for devices of every
// key source. Whatever the bytes, the reader must not read outside the file,
// and an accepted file must describe only ranges inside it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/update/update_file.h"

using namespace orvane;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool InFile(uint64_t size, uint64_t off, uint64_t len) { return off <= size && len <= size - off; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryUpdateSource src({data, size});

  // Device key from the file's first bytes, so matching entries are reachable.
  uint32_t model = 0;
  if (size >= 4) std::memcpy(&model, data, 4);
  for (int gen : {3, 2, 1}) {
    DeviceRecords device;
    device.m_nSettingsGen = gen;
    device.m_Settings.SetWord(gen >= 3 ? 4 : 28, model);
    if (gen == 1) std::memcpy(device.m_szBrand.data(), "XVO", 3);

    UpdateFileHeader header;
    UpdateFileChoice choice;
    const int r = ReadUpdateHeader(src, device, header, choice);
    Check(r == 0 || r == -1);
    if (r != 0) {
      Check(choice.m_nDirectoryKind == 0 && choice.m_nReservedSize == 0);
      continue;
    }
    Check(header.Version >= kMinUpdateVersion);
    Check(choice.m_nDirectoryKind >= -1 && choice.m_nDirectoryKind <= 1);
    if (choice.m_nDirectoryKind != kDirectoryHeaded) Check(choice.m_nReservedSize == 0);
    for (size_t i = 0; i < kUpdateSections; ++i)
      if (header.SectionLength(i) != 0)
        Check(InFile(size, header.SectionOffset(i), header.SectionLength(i)));
  }

  // The pieces the inspector uses on their own.
  const TrailerRead trailer = ReadTrailer(src);
  if (trailer.form != TrailerForm::None) {
    const auto dir = ReadDeviceDirectory(src, trailer.header.Section1Offset);
    if (dir) {
      Check(dir->entries.size() <= kMaxDirectoryEntries);
      for (const DirectoryEntry& e : dir->entries) (void)KeyText(e.Key);
      (void)SelectDirectoryEntry(*dir, model);
    }
  }
  return 0;
}
