// orvane-cli: shared context of the commands.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/device/hid_cmd.h"
#include "core/session/device_session.h"
#include "sim/virtual_device.h"

namespace orvane::cli {

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

struct GlobalOptions {
  bool virtualDevice = false;
  std::string virtualImage;  // empty: the default image in the user's data directory
  std::string traceFile;
  std::string replayFile;  // play a recorded trace back instead of talking to a device
  uint32_t virtualLatencyUs = 0;  // per report, to show real pacing with the virtual device
};

class CliContext {
 public:
  explicit CliContext(GlobalOptions options) : m_options(std::move(options)) {}
  ~CliContext();

  const GlobalOptions& Options() const { return m_options; }

  // The session on the device (virtual or real), not opened; nullptr (after
  // printing why) when the virtual image or the trace file cannot be used.
  CDeviceSession* CreateSession();
  // Opens the device (virtual or the first real device) in a session. On
  // failure prints why to stderr and returns nullptr.
  CDeviceSession* OpenSession();
  // The session's link, opened.
  CHidCmd* OpenLink() {
    CDeviceSession* s = OpenSession();
    return s ? &s->Link() : nullptr;
  }
  // Opens the session and runs the connect sequence; prints "   未连接硬件！"
  // and returns nullptr when it fails.
  CDeviceSession* Connect();
  // Closes the link and, for the virtual device, stores its memory image.
  // Returns false (after printing why) when the image could not be stored.
  bool Finish();
  // Stores the virtual device's memory image when it changed (or is new), so
  // other processes see it. True when there is nothing to store.
  bool SaveVirtualImage();

  // The virtual device behind the link, when one is used.
  sim::CVirtualDevice* VirtualDevice() { return m_device.get(); }
  const std::shared_ptr<sim::CVirtualDevice>& SharedVirtualDevice() const { return m_device; }
  // Where the virtual device's image lives.
  std::string VirtualImagePath() const;

 private:
  GlobalOptions m_options;
  std::shared_ptr<sim::CVirtualDevice> m_device;
  std::string m_imagePath;
  bool m_imageExisted = false;
  std::unique_ptr<CDeviceSession> m_session;
};

using Args = std::vector<std::string>;
using CommandFn = int (*)(CliContext& ctx, const Args& args);

struct Command {
  const char* name;
  const char* usage;    // arguments, shown after the name
  const char* summary;  // one line
  CommandFn run;
};

const std::vector<Command>& Commands();

// Prints "orvane-cli: <message>" to stderr and returns kExitUsage.
int UsageError(const std::string& message);
// Prints "orvane-cli: <message>" to stderr and returns kExitFailure.
int Failure(const std::string& message);

// What the user is told when the device cannot be opened: "   未连接硬件！",
// and for a device present but not ours to open, how to install the udev rule.
std::string OpenFailureText(OpenError error);

// Parses a decimal or 0x-prefixed number; false when it is not one or does not fit.
bool ParseNumber(const std::string& text, uint32_t& value);

std::string DefaultVirtualImagePath();

// Reads the connected device's brand page (page 0x180 of area 0 when the info
// page is valid, else page 0x70). False, with `error` set, when the device
// cannot be read.
bool ReadConnectedBrand(CliContext& ctx, std::array<uint8_t, 256>& brand, std::string* error);

// Commands.
int CmdProbe(CliContext& ctx, const Args& args);
int CmdDump(CliContext& ctx, const Args& args);
int CmdInfo(CliContext& ctx, const Args& args);
int CmdUpdate(CliContext& ctx, const Args& args);
int CmdCheck(CliContext& ctx, const Args& args);
int CmdDownload(CliContext& ctx, const Args& args);
int CmdInspect(CliContext& ctx, const Args& args);
int CmdPack(CliContext& ctx, const Args& args);
int CmdConfig(CliContext& ctx, const Args& args);
int CmdWatch(CliContext& ctx, const Args& args);
int CmdPlug(CliContext& ctx, const Args& args);
int CmdUnplug(CliContext& ctx, const Args& args);

}  // namespace orvane::cli
