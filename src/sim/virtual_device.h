// The virtual device: a model of the detector's firmware behind the command
// protocol. Two storage areas of `capacity` bytes (erased 0xFF), 256-byte
// pages, 4096-byte sectors. It checks what the firmware checks: packet length,
// marker and checksum, the fixed words of the queries, page and sector ranges,
// and the sum announced for written data (plain or scrambled). A rejected
// request gets a reply with a non-zero status and changes nothing.
//
// Thread-safe: the host link and the test harness (plug, unplug, faults) may
// call it from different threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/device/hid_cmd.h"
#include "core/device/hid_io.h"

namespace orvane::sim {

// Reply status words of the model (0 is success).
enum : uint32_t {
  kStatusBadPacket = 1,     // wrong length, marker or checksum
  kStatusBadParameter = 2,  // page or sector out of range, bad area, wrong fixed words
  kStatusBadChecksum = 3,   // written data does not match the announced sum
  kStatusUnknownCommand = 4,
  kStatusInjectedFailure = 0x55,
};

struct VirtualDeviceConfig {
  uint32_t bootVersion = 1011;
  uint32_t capacity = kDefaultCapacity;  // bytes per area; a multiple of 4096
};

enum class FaultKind {
  DropReply,      // command N gets no reply
  CorruptReply,   // command N's reply has a wrong checksum
  FailCommand,    // command N is not carried out and its reply reports failure
  TimeoutReport,  // report N (either direction) does not complete
  Disconnect,     // the device is unplugged at report N
};

// N counts from 1: commands are the packets the device took as commands,
// reports every report the host tried to move (either direction), both
// counted from the moment the fault is armed.
struct Fault {
  FaultKind kind;
  uint64_t n;
};

enum class WireResult { Ok, Timeout, Disconnected };

class CVirtualDevice {
 public:
  explicit CVirtualDevice(VirtualDeviceConfig config = {});

  const VirtualDeviceConfig& Config() const { return m_config; }
  uint32_t PageCount() const { return m_config.capacity / uint32_t(kPageSize); }

  // --- the wire, as the host's link sees it ---
  WireResult HostWrite(const Report& report);
  WireResult HostRead(Report& report);
  // The host drops the input reports already waiting (no report is moved on the wire).
  void HostDiscardInput();
  // Plug generation: changes on every unplug, so a link opened before it is dead.
  uint64_t Generation() const;
  bool IsPlugged() const;

  // --- the test harness ---
  void Plug();
  void Unplug();
  void AddFault(Fault fault);
  void ClearFaults();
  void SetLatency(std::chrono::microseconds perReport);
  std::chrono::microseconds Latency() const;

  // Direct memory access for set-up and checks (not through the protocol).
  std::vector<uint8_t> ReadPageDirect(uint8_t area, uint32_t page) const;
  void WritePageDirect(uint8_t area, uint32_t page, std::span<const uint8_t> data);
  std::span<const uint8_t> AreaBytes(uint8_t area) const;

  struct Stats {
    uint64_t commands = 0;        // packets taken as commands
    uint64_t rejected = 0;        // replies with a non-zero status
    uint64_t pagesWritten = 0;
    uint64_t pagesRead = 0;
    uint64_t sectorsErased = 0;
    uint64_t finishes = 0;
    uint64_t closes = 0;
    uint64_t reports = 0;  // reports the host tried to move, either direction
    uint64_t abandonedWrites = 0;  // page writes cut short by a new command
  };
  Stats GetStats() const;
  bool Dirty() const;  // memory changed since construction or the last save/load
  // For each command taken (in order, the first 4096): its code and the number
  // of the report that carried it, so tests can aim a fault at a command.
  struct CommandRecord {
    uint8_t code;
    uint64_t report;
  };
  std::vector<CommandRecord> CommandLog() const;

  // Memory image file: successive runs of the CLI see the same device.
  bool SaveImage(const std::string& path, std::string* error);
  static std::unique_ptr<CVirtualDevice> LoadImage(const std::string& path, std::string* error);

 private:
  struct Receive {
    bool active = false;
    bool accept = false;  // false: swallow the data, then reply with `status`
    uint32_t status = 0;
    uint8_t area = 0;
    uint32_t firstPage = 0;
    uint32_t pageCount = 0;
    uint32_t lengthWord = 0;
    uint32_t checksumWord = 0;
    uint64_t commandIndex = 0;
    std::vector<uint8_t> data;
  };

  bool ReportFault(FaultKind kind);
  // Counts a report and applies the per-report faults armed for it.
  WireResult StartReport();
  bool CommandFault(FaultKind kind, uint64_t commandIndex) const;
  void HandleCommand(const Report& report);
  void HandleData(const Report& report);
  static bool LooksLikeCommand(const Report& report);
  void QueueReply(uint8_t code, uint32_t status, uint32_t result, uint64_t commandIndex);
  void QueueReport(const Report& report);
  uint8_t* Page(uint8_t area, uint32_t page);
  void UnplugLocked();

  VirtualDeviceConfig m_config;
  std::vector<uint8_t> m_area[2];
  std::deque<Report> m_out;  // reports waiting for the host to read
  Receive m_receive;
  std::vector<Fault> m_faults;  // n made absolute when armed
  uint64_t m_reportIndex = 0;
  std::vector<CommandRecord> m_commandLog;
  bool m_plugged = true;
  uint64_t m_generation = 1;
  bool m_dirty = false;
  std::chrono::microseconds m_latency{0};
  Stats m_stats;
  mutable std::mutex m_mutex;
};

// Factory contents of a new virtual device: a generation-3 settings page and,
// when the capacity allows, an area table whose section-4 area starts with
// the date stamp kFactoryDateStamp (2025-06-01), and the brand page.
inline constexpr uint32_t kFactoryTableEnd = 0x35B000;
inline constexpr uint32_t kFactoryDateStamp = 1748736000;
std::unique_ptr<CVirtualDevice> MakeFactoryDevice(VirtualDeviceConfig config = {});

}  // namespace orvane::sim
