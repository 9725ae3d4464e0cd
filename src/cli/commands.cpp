#include "cli/cli.h"

namespace orvane::cli {

const std::vector<Command>& Commands() {
  static const std::vector<Command> table = {
      {"probe", "", "print the device's boot version and capacity", CmdProbe},
      {"dump", "AREA PAGE", "print one 256-byte page of area 0 or 1 as hex", CmdDump},
      {"info", "[--json]", "connect and print the device's records and versions", CmdInfo},
      {"update", "FILE | --online [--version-url URL] [--yes]",
       "write an update file (or the archive the version file names) into the device", CmdUpdate},
      {"check", "[--brand TEXT] [--version-url URL]",
       "fetch the version file for the device's brand; print the online version", CmdCheck},
      {"download", "URL FILE | --version-url URL [FILE]",
       "fetch a file (or the archive a version file names) with progress", CmdDownload},
  };
  return table;
}

}  // namespace orvane::cli
