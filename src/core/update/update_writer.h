// Builds update files: the sections one after another, then the scrambled
// trailer in one of its three forms. Used by `orvane-cli pack` and by the
// tests, which build every form and directory kind the reader knows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/update/update_file.h"

namespace orvane {

struct DirectoryBlock {
  uint32_t key = 0;
  std::vector<uint8_t> data;
  uint32_t reservedSize = 0;  // written in the headed form only
};

struct UpdateFileContents {
  TrailerForm form = TrailerForm::Form520;
  uint32_t version = 3;                  // 520-byte form only
  std::vector<uint8_t> brand;            // GBK bytes, at most 256
  // Raw sections 0, 2, 3, 4, 5 (index = section number; index 1 unused when
  // `directory` is set). The 320 and 304 forms have no section 5.
  std::array<std::vector<uint8_t>, kUpdateSections> sections;
  // Section 1 built from blocks; kDirectoryNone leaves it to sections[1].
  int32_t directoryKind = kDirectoryNone;
  std::vector<DirectoryBlock> blocks;
};

// Encodes a device directory: header or count, entries, then the blocks.
std::vector<uint8_t> BuildDeviceDirectory(int32_t kind, const std::vector<DirectoryBlock>& blocks);

// The whole file, or nullopt with `error` set when the contents cannot be encoded
// (brand too long, section 5 in a short form, a file past 4 GiB).
std::optional<std::vector<uint8_t>> BuildUpdateFile(const UpdateFileContents& contents, std::string* error);

}  // namespace orvane
