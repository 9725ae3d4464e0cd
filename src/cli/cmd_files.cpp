// Tools for people who make and check update files: inspect and pack.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "core/brands.h"
#include "core/update/update_file.h"
#include "core/update/update_writer.h"
#include "core/util/gbk.h"

namespace orvane::cli {

namespace {

using nlohmann::ordered_json;

constexpr const char* kFormatError = "更新文件格式出错！";

const char* KindName(int32_t kind) {
  switch (kind) {
    case kDirectoryHeaded: return "headed";
    case kDirectoryPlain: return "plain";
    default: return "none";
  }
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

// "--name value" or "--name=value"; advances i past what it took.
bool TakeOption(const Args& args, size_t& i, const std::string& name, std::string& value) {
  const std::string& a = args[i];
  if (a == name) {
    if (i + 1 >= args.size()) return false;
    value = args[++i];
    return true;
  }
  if (a.rfind(name + "=", 0) == 0) {
    value = a.substr(name.size() + 1);
    return true;
  }
  return false;
}

// Everything inspect reports about one file.
struct Inspection {
  uint64_t size = 0;
  TrailerRead trailer;
  std::optional<DeviceDirectory> directory;
  bool directoryRead = false;
  std::optional<uint32_t> deviceKey;
  std::optional<size_t> selected;
  int result = -1;
  UpdateFileHeader resolved;
  UpdateFileChoice choice;
  std::string reason;  // why the reader refuses the file
};

Inspection Inspect(UpdateSource& src, std::optional<uint32_t> deviceKey) {
  Inspection in;
  in.size = src.Size();
  in.deviceKey = deviceKey;
  in.trailer = ReadTrailer(src);
  const UpdateFileHeader& h = in.trailer.header;
  if (in.trailer.form != TrailerForm::None && h.Section1Length != 0) {
    in.directoryRead = true;
    in.directory = ReadDeviceDirectory(src, h.Section1Offset);
    if (in.directory && deviceKey) in.selected = SelectDirectoryEntry(*in.directory, *deviceKey);
  }

  // The verdict is the reader's own, for a generation-3 device with this key.
  DeviceRecords device;
  device.m_nSettingsGen = 3;
  device.m_Settings.SetWord(settings_gen3::kModelWord, deviceKey.value_or(0));
  in.result = ReadUpdateHeader(src, device, in.resolved, in.choice);
  if (in.result == 0) return in;
  if (in.trailer.form == TrailerForm::None) {
    in.reason = "no trailer form matches (size field or checksum wrong, or the file is too short)";
  } else if (h.Version < kMinUpdateVersion) {
    in.reason = "version " + std::to_string(h.Version) + " is below " + std::to_string(kMinUpdateVersion);
  } else {
    for (size_t i = 0; i < kUpdateSections && in.reason.empty(); ++i)
      if (h.SectionLength(i) != 0 && uint64_t(h.SectionOffset(i)) + h.SectionLength(i) > in.size)
        in.reason = "section " + std::to_string(i) + " runs past the end of the file";
    if (in.reason.empty() && in.directoryRead && !in.directory)
      in.reason = "the device directory's entries run past the end of the file or exceed " +
                  std::to_string(kMaxDirectoryEntries);
    if (in.reason.empty()) in.reason = "the selected device block runs past the end of the file";
  }
  return in;
}

std::string BrandText(const UpdateFileHeader& h) {
  return GbkToUtf8(ZeroTerminated({reinterpret_cast<const char*>(h.Brand.data()), h.Brand.size()}));
}

ordered_json ToJson(const Inspection& in) {
  const UpdateFileHeader& h = in.trailer.header;
  ordered_json j;
  j["size"] = in.size;
  j["trailer_form"] = int(in.trailer.form);
  j["usable"] = in.result == 0;
  if (in.result != 0) {
    j["verdict"] = std::string(kFormatError) + std::to_string(in.result);
    j["reason"] = in.reason;
  }
  if (in.trailer.form == TrailerForm::None) return j;
  j["version"] = h.Version;
  j["brand"] = BrandText(h);
  ordered_json sections = ordered_json::array();
  for (size_t i = 0; i < kUpdateSections; ++i)
    sections.push_back({{"section", i}, {"offset", h.SectionOffset(i)}, {"length", h.SectionLength(i)}});
  j["sections"] = sections;
  ordered_json dir;
  dir["kind"] = in.directory ? KindName(in.directory->kind) : (in.directoryRead ? "unreadable" : "none");
  dir["kind_value"] = in.directory ? in.directory->kind : 0;
  ordered_json entries = ordered_json::array();
  if (in.directory)
    for (const DirectoryEntry& e : in.directory->entries)
      entries.push_back({{"key", KeyText(e.Key)},
                         {"key_value", e.Key},
                         {"offset", e.Offset},
                         {"length", e.Length},
                         {"reserved_size", e.ReservedSize}});
  dir["entries"] = entries;
  j["directory"] = dir;
  if (in.deviceKey) {
    ordered_json sel;
    sel["device_key"] = KeyText(*in.deviceKey);
    if (in.selected && in.directory) {
      const DirectoryEntry& e = in.directory->entries[*in.selected];
      sel["entry"] = *in.selected;
      sel["offset"] = uint64_t(h.Section1Offset) + e.Offset;
      sel["length"] = e.Length;
      sel["reserved_size"] = e.ReservedSize;
    } else {
      sel["entry"] = nullptr;
    }
    j["device_block"] = sel;
  }
  return j;
}

void PrintText(const Inspection& in) {
  const UpdateFileHeader& h = in.trailer.header;
  std::cout << "size: " << in.size << "\n";
  if (in.trailer.form == TrailerForm::None) {
    std::cout << "trailer_form: none\n";
  } else {
    std::cout << "trailer_form: " << int(in.trailer.form) << "\n"
              << "version: " << h.Version << "\n"
              << "brand: " << BrandText(h) << "\n";
    for (size_t i = 0; i < kUpdateSections; ++i)
      std::cout << "section" << i << ": offset=" << h.SectionOffset(i) << " length=" << h.SectionLength(i)
                << "\n";
    if (in.directory) {
      std::cout << "directory: " << KindName(in.directory->kind) << " (" << in.directory->kind << ")\n"
                << "directory_entries: " << in.directory->entries.size() << "\n";
      for (size_t i = 0; i < in.directory->entries.size(); ++i) {
        const DirectoryEntry& e = in.directory->entries[i];
        std::cout << "entry" << i << ": key=\"" << KeyText(e.Key) << "\" offset=" << e.Offset
                  << " length=" << e.Length << " reserved_size=" << e.ReservedSize << "\n";
      }
    } else {
      std::cout << "directory: " << (in.directoryRead ? "unreadable" : "none (0)") << "\n";
    }
    if (in.deviceKey) {
      std::cout << "device_key: \"" << KeyText(*in.deviceKey) << "\"\n";
      if (in.selected && in.directory) {
        const DirectoryEntry& e = in.directory->entries[*in.selected];
        std::cout << "device_block: entry=" << *in.selected
                  << " offset=" << uint64_t(h.Section1Offset) + e.Offset << " length=" << e.Length
                  << " reserved_size=" << e.ReservedSize << "\n";
      } else {
        std::cout << "device_block: none\n";
      }
    }
  }
  if (in.result == 0)
    std::cout << "usable: yes\n";
  else
    std::cout << "usable: no\nverdict: " << kFormatError << in.result << "\nreason: " << in.reason << "\n";
}

}  // namespace

int CmdInspect(CliContext&, const Args& args) {
  std::string path;
  std::optional<uint32_t> key;
  bool json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string value;
    if (args[i] == "--json") {
      json = true;
    } else if (TakeOption(args, i, "--device-key", value)) {
      key = ParseKey(value);
      if (!key) return UsageError("--device-key needs 1 to 4 characters or a 0x-prefixed number");
    } else if (args[i].rfind("--", 0) == 0) {
      return UsageError("inspect: unknown option " + args[i]);
    } else if (path.empty()) {
      path = args[i];
    } else {
      return UsageError("inspect takes one FILE");
    }
  }
  if (path.empty()) return UsageError("inspect needs a FILE");
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return Failure("cannot open " + path);
  FileUpdateSource src(f);
  const Inspection in = Inspect(src, key);
  std::fclose(f);
  if (json)
    std::cout << ToJson(in).dump(2) << "\n";
  else
    PrintText(in);
  return in.result == 0 ? kExitOk : kExitFailure;
}

int CmdPack(CliContext&, const Args& args) {
  UpdateFileContents contents;
  std::string out;
  std::string error;
  bool brandGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string v;
    if (TakeOption(args, i, "-o", v) || TakeOption(args, i, "--output", v)) {
      out = v;
    } else if (TakeOption(args, i, "--form", v)) {
      if (v == "520") contents.form = TrailerForm::Form520;
      else if (v == "320") contents.form = TrailerForm::Form320;
      else if (v == "304") contents.form = TrailerForm::Form304;
      else return UsageError("--form must be 520, 320 or 304");
    } else if (TakeOption(args, i, "--version", v)) {
      if (!ParseNumber(v, contents.version)) return UsageError("--version needs a number");
    } else if (TakeOption(args, i, "--brand", v)) {
      const auto gbk = Utf8ToGbk(v);
      if (!gbk) return UsageError("--brand: the text cannot be written in GBK");
      contents.brand.assign(gbk->begin(), gbk->end());
      brandGiven = true;
    } else if (TakeOption(args, i, "--brand-id", v)) {
      uint32_t id = 0;
      if (!ParseNumber(v, id) || brands::BrandById(int(id)) == brands::kUnbranded)
        return UsageError("--brand-id must name a brand of the brand table");
      const std::string_view b = brands::BrandById(int(id));
      contents.brand.assign(b.begin(), b.end());
      brandGiven = true;
    } else if (TakeOption(args, i, "--section", v)) {
      const size_t eq = v.find('=');
      uint32_t n = 0;
      if (eq == std::string::npos || !ParseNumber(v.substr(0, eq), n) || n >= kUpdateSections)
        return UsageError("--section needs N=FILE with N from 0 to 5");
      if (!ReadWholeFile(v.substr(eq + 1), contents.sections[n], error)) return Failure(error);
    } else if (TakeOption(args, i, "--directory", v)) {
      if (v == "headed") contents.directoryKind = kDirectoryHeaded;
      else if (v == "plain") contents.directoryKind = kDirectoryPlain;
      else return UsageError("--directory must be headed or plain");
    } else if (TakeOption(args, i, "--entry", v)) {
      // KEY=FILE[,RESERVED]
      const size_t eq = v.find('=');
      if (eq == std::string::npos) return UsageError("--entry needs KEY=FILE[,RESERVED]");
      DirectoryBlock b;
      const auto key = ParseKey(v.substr(0, eq));
      if (!key) return UsageError("--entry: KEY needs 1 to 4 characters or a 0x-prefixed number");
      b.key = *key;
      std::string file = v.substr(eq + 1);
      const size_t comma = file.rfind(',');
      if (comma != std::string::npos) {
        if (!ParseNumber(file.substr(comma + 1), b.reservedSize))
          return UsageError("--entry: RESERVED must be a number");
        file.resize(comma);
      }
      if (!ReadWholeFile(file, b.data, error)) return Failure(error);
      contents.blocks.push_back(std::move(b));
    } else {
      return UsageError("pack: unexpected argument " + args[i]);
    }
  }
  if (out.empty()) return UsageError("pack needs -o FILE");
  if (!brandGiven) {
    if (!brands::IsUnbrandedBuild()) contents.brand.assign(brands::kBuildBrand.begin(), brands::kBuildBrand.end());
  }
  if (!contents.blocks.empty() && contents.directoryKind == kDirectoryNone)
    return UsageError("--entry needs --directory headed or plain");
  if (contents.directoryKind != kDirectoryNone && !contents.sections[1].empty())
    return UsageError("--section 1 and --directory exclude each other");
  const auto file = BuildUpdateFile(contents, &error);
  if (!file) return UsageError(error);
  std::ofstream o(out, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(file->data()), std::streamsize(file->size()));
  o.close();
  if (!o) return Failure("cannot write " + out);
  std::cout << "wrote " << out << " (" << file->size() << " bytes, trailer " << int(contents.form) << ")\n";
  return kExitOk;
}

}  // namespace orvane::cli
