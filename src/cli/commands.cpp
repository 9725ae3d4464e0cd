#include "cli/cli.h"

namespace orvane::cli {

const std::vector<Command>& Commands() {
  static const std::vector<Command> table = {
      {"probe", "", "print the device's boot version and capacity", CmdProbe},
      {"dump", "AREA PAGE", "print one 256-byte page of area 0 or 1 as hex", CmdDump},
      {"info", "[--json]", "connect and print the device's records and versions", CmdInfo},
      {"update", "FILE [--yes]", "write an update file into the device", CmdUpdate},
      {"check", "[--brand TEXT] [--version-url URL]",
       "fetch the version file for the device's brand; print the online version", CmdCheck},
      {"download", "URL FILE | --version-url URL [FILE]",
       "fetch a file (or the archive a version file names) with progress", CmdDownload},
      {"watch", "[--update FILE [--yes]] [--connect-delay=MS]",
       "report devices arriving and leaving; with --update, update each one that arrives", CmdWatch},
      {"plug", "", "plug the virtual device in (for a watch running elsewhere)", CmdPlug},
      {"unplug", "", "unplug the virtual device", CmdUnplug},
  };
  return table;
}

}  // namespace orvane::cli
