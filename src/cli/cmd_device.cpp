// Low-level device commands: probe and dump.
#include <array>
#include <cstdio>
#include <iostream>

#include "cli/cli.h"

namespace orvane::cli {

namespace {

std::string ResultText(int64_t r) {
  switch (r) {
    case -1: return "the command could not be sent";
    case -2: return "the device's reply was missing, corrupt or reported failure";
    case 0: return "the transfer was aborted";
    default: return "the transfer stopped after " + std::to_string(r) + " bytes";
  }
}

}  // namespace

int CmdProbe(CliContext& ctx, const Args& args) {
  if (!args.empty()) return UsageError("probe takes no arguments");
  CHidCmd* link = ctx.OpenLink();
  if (!link) return kExitFailure;
  const int64_t boot = link->GetBootVersion();
  if (boot < 0) return Failure("boot version query failed: " + ResultText(boot));
  int64_t capacity = kDefaultCapacity;
  if (BootVersionAtLeast(boot, 1011)) {
    capacity = link->GetCapacity();
    if (capacity < 0) return Failure("capacity query failed: " + ResultText(capacity));
  }
  std::cout << "boot_version: " << boot << "\ncapacity: " << capacity << "\n";
  return kExitOk;
}

int CmdDump(CliContext& ctx, const Args& args) {
  if (args.size() != 2) return UsageError("dump needs AREA and PAGE");
  uint32_t area = 0, page = 0;
  if (!ParseNumber(args[0], area) || area > 1) return UsageError("AREA must be 0 or 1");
  if (!ParseNumber(args[1], page)) return UsageError("PAGE must be a number (decimal or 0x...)");
  CHidCmd* link = ctx.OpenLink();
  if (!link) return kExitFailure;
  std::array<uint8_t, kPageSize> data{};
  const int r = link->ReadPage(uint8_t(area), page, data);
  if (r != int(kPageSize)) return Failure("page read failed: " + ResultText(r));
  char line[128];
  for (size_t off = 0; off < data.size(); off += 16) {
    int n = std::snprintf(line, sizeof line, "%04zx:", off);
    for (size_t i = 0; i < 16; ++i) n += std::snprintf(line + n, sizeof line - n, " %02x", data[off + i]);
    n += std::snprintf(line + n, sizeof line - n, "  |");
    for (size_t i = 0; i < 16; ++i) {
      const uint8_t c = data[off + i];
      line[n++] = (c >= 0x20 && c < 0x7F) ? char(c) : '.';
    }
    line[n++] = '|';
    line[n] = 0;
    std::cout << line << "\n";
  }
  return kExitOk;
}

}  // namespace orvane::cli
