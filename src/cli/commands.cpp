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
      {"inspect", "[--json] [--device-key KEY] FILE",
       "show an update file's trailer, sections and device directory", CmdInspect},
      {"pack",
       "-o FILE [--form 520|320|304] [--version N] [--brand TEXT|--brand-id N] "
       "[--section N=FILE]... [--directory headed|plain] [--entry KEY=FILE[,RESERVED]]...",
       "build an update file", CmdPack},
      {"config", "show | set [--yes] NAME=VALUE...",
       "show or change the device's settings (timezone, bright_start, bright_end, clock12, "
       "show_number, band.NAME)",
       CmdConfig},
      {"watch", "[--update FILE | --online [--version-url URL]] [--yes] [--connect-delay=MS]",
       "report devices arriving and leaving; with --update, update each one that arrives", CmdWatch},
      {"plug", "", "plug the virtual device in (for a watch running elsewhere)", CmdPlug},
      {"unplug", "", "unplug the virtual device", CmdUnplug},
  };
  return table;
}

}  // namespace orvane::cli
