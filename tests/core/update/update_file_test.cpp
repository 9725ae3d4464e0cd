// Update files built by the writer in every trailer form and directory kind,
// read back by ReadUpdateHeader; damaged files are refused with -1.
#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "core/brands.h"
#include "core/device/byte_sum.h"
#include "core/update/update_file.h"
#include "core/update/update_writer.h"
#include "core/util/bytes.h"

namespace orvane {
namespace {

uint32_t Key(const char* s) { return *ParseKey(s); }

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), seed);
  return v;
}

// A generation-3 device whose model word is `model`.
DeviceRecords Device(const char* model) {
  DeviceRecords d;
  d.m_nSettingsGen = 3;
  d.m_Settings.SetWord(4, Key(model));
  return d;
}

UpdateFileContents BaseSpec(TrailerForm form) {
  UpdateFileContents s;
  s.form = form;
  s.brand = {'B', 'R', 'A', 'N', 'D'};
  s.sections[0] = Bytes(300, 1);
  s.sections[2] = Bytes(5000, 2);
  s.sections[3] = Bytes(17, 3);
  s.sections[4] = Bytes(4096, 4);
  if (form == TrailerForm::Form520) s.sections[5] = Bytes(999, 5);
  return s;
}

std::vector<uint8_t> Build(const UpdateFileContents& contents) {
  std::string error;
  auto file = BuildUpdateFile(contents, &error);
  EXPECT_TRUE(file) << error;
  return file.value_or(std::vector<uint8_t>{});
}

struct Read {
  int result = 0;
  UpdateFileHeader header;
  UpdateFileChoice choice;
};

Read ReadBack(const std::vector<uint8_t>& file, const DeviceRecords& device = Device("T3K ")) {
  Read r;
  MemoryUpdateSource src(file);
  r.choice.m_nDirectoryKind = 99;  // must be reset by the reader
  r.result = ReadUpdateHeader(src, device, r.header, r.choice);
  return r;
}

// Applies `edit` to the unscrambled trailer of size N at the end of `file` and
// seals it again, as a file maker with odd contents would.
void EditTrailer(std::vector<uint8_t>& file, size_t n, void (*edit)(uint8_t*)) {
  uint8_t* t = file.data() + file.size() - n;
  UnscrambleTrailer(t, n);
  edit(t);
  StoreLE32At(t + n - 4, ByteSum(t, n - 4));
  UnscrambleTrailer(t, n);
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& file, uint32_t off, uint32_t len) {
  return {file.begin() + off, file.begin() + off + len};
}

TEST(UpdateFile, EveryFormAndDirectoryKindReadsBack) {
  struct Case {
    TrailerForm form;
    int32_t kind;
    int expectResult;
  };
  const Case cases[] = {
      {TrailerForm::Form520, kDirectoryNone, 0},    {TrailerForm::Form520, kDirectoryHeaded, 0},
      {TrailerForm::Form520, kDirectoryPlain, 0},   {TrailerForm::Form320, kDirectoryNone, 0},
      {TrailerForm::Form320, kDirectoryHeaded, 0},  {TrailerForm::Form320, kDirectoryPlain, 0},
      {TrailerForm::Form304, kDirectoryNone, -1},   {TrailerForm::Form304, kDirectoryHeaded, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.form) << " kind " << c.kind);
    UpdateFileContents contents = BaseSpec(c.form);
    contents.directoryKind = c.kind;
    contents.blocks = {{Key("XVO "), Bytes(40, 7), 0x3000}, {Key("T3K "), Bytes(700, 8), 0x5000}};
    const auto file = Build(contents);

    MemoryUpdateSource src(file);
    const TrailerRead trailer = ReadTrailer(src);
    EXPECT_EQ(trailer.form, c.form);

    const Read r = ReadBack(file);
    ASSERT_EQ(r.result, c.expectResult);
    if (c.expectResult != 0) continue;
    EXPECT_EQ(r.header.Version, 3u);
    EXPECT_EQ(std::string(r.header.Brand.begin(), r.header.Brand.begin() + 5), "BRAND");
    for (size_t i : {0, 2, 3, 4, 5}) {
      const auto& want = contents.sections[i];
      EXPECT_EQ(Slice(file, r.header.SectionOffset(i), r.header.SectionLength(i)), want) << i;
    }
    EXPECT_EQ(r.choice.m_nDirectoryKind, c.kind);
    if (c.kind == kDirectoryNone) {
      EXPECT_EQ(r.header.Section1Length, 0u);
      EXPECT_EQ(r.choice.m_nReservedSize, 0u);
    } else {
      // The T3K block is selected; only the headed form carries a reserved size.
      EXPECT_EQ(Slice(file, r.header.Section1Offset, r.header.Section1Length), Bytes(700, 8));
      EXPECT_EQ(r.choice.m_nReservedSize, c.kind == kDirectoryHeaded ? 0x5000u : 0u);
    }
  }
}

TEST(UpdateFile, VersionDecidesFor520ButNotFor320) {
  for (uint32_t version : {0u, 2u, 3u, 7u}) {
    UpdateFileContents contents = BaseSpec(TrailerForm::Form520);
    contents.version = version;
    EXPECT_EQ(ReadBack(Build(contents)).result, version >= 3 ? 0 : -1) << version;
  }
  // The 320-byte form has no version field: bytes 4..7 are ignored and it counts as 3.
  auto file = Build(BaseSpec(TrailerForm::Form320));
  EditTrailer(file, 320, [](uint8_t* t) { StoreLE32At(t + 4, 2); });
  const Read r = ReadBack(file);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.header.Version, 3u);
}

TEST(UpdateFile, Form320HasNoSection5WhateverItsSpareBytesHold) {
  auto file = Build(BaseSpec(TrailerForm::Form320));
  EditTrailer(file, 320, [](uint8_t* t) {
    for (int i = 304; i < 316; ++i) t[i] = 0x10;
  });
  const Read r = ReadBack(file);
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(r.header.Section5Offset, 0u);
  EXPECT_EQ(r.header.Section5Length, 0u);
}

TEST(UpdateFile, Form304IsRecognisedOnlyWithinItsLimitsAndNeverAccepted) {
  UpdateFileContents contents = BaseSpec(TrailerForm::Form304);
  contents.sections[0] = Bytes(0x8000, 1);  // at the limit
  auto file = Build(contents);
  MemoryUpdateSource src(file);
  EXPECT_EQ(ReadTrailer(src).form, TrailerForm::Form304);
  EXPECT_EQ(ReadTrailer(src).header.Version, 1u);
  EXPECT_EQ(ReadBack(file).result, -1);

  contents.sections[0] = Bytes(0x8001, 1);  // one past it: not a 304 trailer at all
  auto over = Build(contents);
  MemoryUpdateSource src2(over);
  EXPECT_EQ(ReadTrailer(src2).form, TrailerForm::None);
}

TEST(UpdateFile, DirectorySelection) {
  struct Case {
    const char* name;
    std::vector<const char*> keys;
    const char* device;
    int expectBlock;  // index of the block sent, -1 none
  };
  const Case cases[] = {
      {"single entry with another key is still used", {"ABCD"}, "T3K ", 0},
      {"two entries, no match: no block", {"ABCD", "EFGH"}, "T3K ", -1},
      {"match in second place", {"ABCD", "T3K "}, "T3K ", 1},
      {"same key twice: the first in file order", {"T3K ", "T3K "}, "T3K ", 0},
      {"empty directory", {}, "T3K ", -1},
  };
  for (int32_t kind : {kDirectoryHeaded, kDirectoryPlain}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (kind == kDirectoryHeaded ? " (headed)" : " (plain)"));
      UpdateFileContents contents = BaseSpec(TrailerForm::Form520);
      contents.directoryKind = kind;
      for (size_t i = 0; i < c.keys.size(); ++i)
        contents.blocks.push_back({Key(c.keys[i]), Bytes(10 + i, uint8_t(50 + i)), uint32_t(0x1000 * (i + 1))});
      const auto file = Build(contents);
      const Read r = ReadBack(file, Device(c.device));
      ASSERT_EQ(r.result, 0);
      EXPECT_EQ(r.choice.m_nDirectoryKind, kind);
      if (c.expectBlock < 0) {
        EXPECT_EQ(r.header.Section1Offset, 0u);
        EXPECT_EQ(r.header.Section1Length, 0u);
        EXPECT_EQ(r.choice.m_nReservedSize, 0u);
      } else {
        const size_t b = size_t(c.expectBlock);
        EXPECT_EQ(Slice(file, r.header.Section1Offset, r.header.Section1Length), contents.blocks[b].data);
        EXPECT_EQ(r.choice.m_nReservedSize, kind == kDirectoryHeaded ? contents.blocks[b].reservedSize : 0u);
      }
    }
  }
}

TEST(UpdateFile, HeadedDirectoryWithBadHeaderSumReadsAsPlain) {
  UpdateFileContents contents = BaseSpec(TrailerForm::Form520);
  contents.directoryKind = kDirectoryHeaded;
  contents.blocks = {{Key("T3K "), Bytes(10, 1), 0x2000}};
  auto file = Build(contents);
  MemoryUpdateSource src(file);
  const uint32_t dirOffset = ReadTrailer(src).header.Section1Offset;
  file[dirOffset + 20] ^= 1;  // header byte inside the summed range
  // Its first word (0) is now the count of a plain directory: nothing selected.
  const Read r = ReadBack(file);
  ASSERT_EQ(r.result, 0);
  EXPECT_EQ(r.choice.m_nDirectoryKind, kDirectoryPlain);
  EXPECT_EQ(r.header.Section1Length, 0u);
}

TEST(UpdateFile, DeviceKeyByGeneration) {
  struct Case {
    int gen;
    size_t modelAt;  // where the settings page holds "T3K "
    std::string brand;
    uint32_t expect;
  };
  const std::string brand2(brands::kBrand2);
  const Case cases[] = {
      {3, 4, "", Key("T3K ")},        {4, 4, "", Key("T3K ")},
      {2, 28, "", Key("T3K ")},       {3, 28, "", 0},  // generation 3 does not look at 28
      {1, 4, brand2 + "xyz", Key("RKTS")}, {1, 4, "XVO-1", Key("XVO ")},
      {0, 4, "XVO", Key("XVO ")},     {-1, 4, "XV", 0},
      {1, 28, "OTHER", 0},            {1, 4, brand2.substr(0, 4), 0},
  };
  for (const Case& c : cases) {
    DeviceRecords d;
    d.m_nSettingsGen = c.gen;
    d.m_Settings.SetWord(c.modelAt, Key("T3K "));
    std::copy(c.brand.begin(), c.brand.end(), d.m_szBrand.begin());
    EXPECT_EQ(DeviceKey(d), c.expect) << c.gen << " " << c.brand;
  }
}

TEST(UpdateFile, DamagedFilesAreRefused) {
  UpdateFileContents contents = BaseSpec(TrailerForm::Form520);
  contents.directoryKind = kDirectoryPlain;
  contents.blocks = {{Key("T3K "), Bytes(64, 1), 0}};
  const auto good = Build(contents);
  ASSERT_EQ(ReadBack(good).result, 0);
  MemoryUpdateSource src(good);
  const UpdateFileHeader h = ReadTrailer(src).header;

  struct Case {
    const char* name;
    std::vector<uint8_t> file;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"shorter than every trailer", Bytes(303, 0)});
  {
    auto f = good;
    f[f.size() - 100] ^= 0x01;
    cases.push_back({"trailer sum wrong", f});
  }
  auto withHeader = [&](const char* name, auto edit) {
    auto f = good;
    EditTrailer(f, 520, edit);
    cases.push_back({name, f});
  };
  withHeader("size field wrong", [](uint8_t* t) { StoreLE32At(t, 515); });
  withHeader("section offset past the end", [](uint8_t* t) { StoreLE32At(t + 280, 0xFFFFFF00u); });
  withHeader("section length past the end", [](uint8_t* t) { StoreLE32At(t + 284, 0x7FFFFFFFu); });
  withHeader("offset + length wraps 32 bits", [](uint8_t* t) {
    StoreLE32At(t + 296, 0xFFFFFFF0u);
    StoreLE32At(t + 300, 0x20u);
  });
  withHeader("directory offset past the end", [](uint8_t* t) { StoreLE32At(t + 272, 0x10000000u); });
  {
    auto f = good;
    StoreLE32At(f.data() + h.Section1Offset, 0xFFFFFFFFu);  // count
    cases.push_back({"directory count huge", f});
  }
  {
    auto f = good;
    StoreLE32At(f.data() + h.Section1Offset, uint32_t(f.size() / 16));  // entries run past the end
    cases.push_back({"entries past the end", f});
  }
  {
    auto f = good;
    StoreLE32At(f.data() + h.Section1Offset + 4 + 4, 0x7FFFFFF0u);  // block offset
    cases.push_back({"selected block past the end", f});
  }
  {
    auto f = good;
    StoreLE32At(f.data() + h.Section1Offset + 4 + 8, 0xFFFFFFFFu);  // block length
    cases.push_back({"selected block length past the end", f});
  }
  for (const Case& c : cases) {
    const Read r = ReadBack(c.file);
    EXPECT_EQ(r.result, -1) << c.name;
    EXPECT_EQ(r.choice.m_nDirectoryKind, 0) << c.name;
    EXPECT_EQ(r.choice.m_nReservedSize, 0u) << c.name;
  }
  // Every truncation of a good file is refused, none is read out of bounds.
  for (size_t n = 0; n < good.size(); n += 97)
    EXPECT_EQ(ReadBack({good.begin(), good.begin() + n}).result, -1) << n;
}

TEST(UpdateFile, ReadsFromAnOpenFile) {
  UpdateFileContents contents = BaseSpec(TrailerForm::Form320);
  contents.directoryKind = kDirectoryHeaded;
  contents.blocks = {{Key("T3K "), Bytes(33, 3), 0x8000}};
  const auto bytes = Build(contents);
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fflush(f);
  FileUpdateSource src(f);
  EXPECT_EQ(src.Size(), bytes.size());
  UpdateFileHeader h;
  UpdateFileChoice choice;
  EXPECT_EQ(ReadUpdateHeader(src, Device("T3K "), h, choice), 0);
  EXPECT_EQ(choice.m_nReservedSize, 0x8000u);
  std::vector<uint8_t> block(h.Section1Length);
  EXPECT_TRUE(src.ReadAt(h.Section1Offset, block.data(), block.size()));
  EXPECT_EQ(block, Bytes(33, 3));
  uint8_t byte;
  EXPECT_FALSE(src.ReadAt(bytes.size(), &byte, 1));
  std::fclose(f);
}

TEST(UpdateFile, KeyTextAndParsing) {
  EXPECT_EQ(KeyText(Key("T3K ")), "T3K ");
  EXPECT_EQ(Key("XVO"), Key("XVO "));  // padded with spaces
  EXPECT_EQ(*ParseKey("0x204B3354"), Key("T3K "));
  EXPECT_EQ(KeyText(0x00414243), "CBA\\x00");
  EXPECT_FALSE(ParseKey(""));
  EXPECT_FALSE(ParseKey("ABCDE"));
  EXPECT_FALSE(ParseKey("0x12345678Z"));
}

}  // namespace
}  // namespace orvane
