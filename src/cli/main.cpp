// orvane-cli: the Orvane engine from a terminal.
#include <cstring>
#include <iostream>

#include "cli/cli.h"

using namespace orvane::cli;

namespace {

void PrintHelp() {
  std::cout << "usage: orvane-cli [--virtual-device[=IMAGE]] [--trace FILE] COMMAND [ARGS...]\n\n"
               "  --virtual-device[=IMAGE]  use the virtual device; its memory lives in IMAGE\n"
               "                            (default: "
            << DefaultVirtualImagePath()
            << ")\n"
               "  --virtual-latency=US      pace the virtual device at US microseconds per report\n"
               "  --trace FILE              record every report exchanged with the device\n"
               "  --replay=TRACE            play a recorded trace back as the device (support cases)\n\n"
               "commands:\n";
  for (const Command& c : Commands()) {
    std::string head = std::string(c.name) + (*c.usage ? " " : "") + c.usage;
    std::cout << "  " << head;
    for (size_t i = head.size(); i < 24; ++i) std::cout << ' ';
    std::cout << "  " << c.summary << "\n";
  }
  std::cout << "\nexit status: 0 success, 1 device or job failure, 2 usage error\n";
}

}  // namespace

int main(int argc, char** argv) {
  GlobalOptions options;
  Args rest;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return kExitOk;
    } else if (arg == "--virtual-device") {
      options.virtualDevice = true;
    } else if (arg.rfind("--virtual-device=", 0) == 0) {
      options.virtualDevice = true;
      options.virtualImage = arg.substr(std::strlen("--virtual-device="));
      if (options.virtualImage.empty()) return UsageError("--virtual-device= needs an image path");
    } else if (arg.rfind("--virtual-latency=", 0) == 0) {
      if (!ParseNumber(arg.substr(std::strlen("--virtual-latency=")), options.virtualLatencyUs))
        return UsageError("--virtual-latency= needs a number of microseconds");
    } else if (arg.rfind("--replay=", 0) == 0) {
      options.replayFile = arg.substr(std::strlen("--replay="));
      if (options.replayFile.empty()) return UsageError("--replay= needs a trace file");
    } else if (arg == "--trace") {
      if (i + 1 >= argc) return UsageError("--trace needs a file name");
      options.traceFile = argv[++i];
    } else if (arg.rfind("--trace=", 0) == 0) {
      options.traceFile = arg.substr(std::strlen("--trace="));
      if (options.traceFile.empty()) return UsageError("--trace= needs a file name");
    } else {
      rest.push_back(arg);
    }
  }
  if (rest.empty()) return UsageError("no command given");
  if (options.virtualDevice && !options.replayFile.empty())
    return UsageError("--replay and --virtual-device exclude each other");
  const std::string name = rest.front();
  rest.erase(rest.begin());
  for (const Command& c : Commands()) {
    if (name != c.name) continue;
    CliContext ctx(options);
    int rc = c.run(ctx, rest);
    if (!ctx.Finish() && rc == kExitOk) rc = kExitFailure;
    return rc;
  }
  return UsageError("unknown command '" + name + "'");
}
