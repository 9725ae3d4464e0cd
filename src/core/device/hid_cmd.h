// The device's command protocol: 27-byte command/reply packets framed in one
// report each, 256-byte page transfers with progress notices and an abort flag.
//
// Results follow the device convention: a byte count or 1 for success, 0 for
// an aborted transfer, -1 when the command packet was not written, -2 when the
// reply was missing, corrupt or reported failure.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "core/device/hid_io.h"

namespace orvane {

enum : uint8_t {
  HID_CMD_ERASE_SECTORS = 0xF1,
  HID_CMD_READ_PAGE = 0xF2,
  HID_CMD_WRITE_PAGES = 0xF3,
  HID_CMD_FINISH = 0xF4,
  HID_CMD_GET_BOOT_VERSION = 0xF7,
  HID_CMD_CLOSE = 0xFA,
  HID_CMD_GET_CAPACITY = 0xFB,
};

inline constexpr uint32_t kHidMarkerWord = 0x6C1E93A5;  // also the system's general marker
inline constexpr uint32_t kHidQueryWord = 0xABCDEF01;
inline constexpr uint32_t kHidPacketMagic = 0x43444948;  // "HIDC"
inline constexpr uint8_t kHidPacketLength = 23;          // bytes covered by the checksum

inline constexpr size_t kPageSize = 256;
inline constexpr size_t kSectorSize = 4096;
inline constexpr uint32_t kDefaultCapacity = 0x800000;  // assumed below boot version 1011

// Record pages (area 0).
inline constexpr uint32_t kBrandPageOld = 0x70;
inline constexpr uint32_t kAnnouncePage = 0x80;  // area 1
inline constexpr uint32_t kDeviceBlockPage = 0x90;  // area 1
inline constexpr uint32_t kSettingsPage = 0x110;
inline constexpr uint32_t kInfoPage = 0x160;
inline constexpr uint32_t kBrandPage = 0x180;

// Progress notices, one per data report; the parameter is the payload bytes moved.
inline constexpr unsigned WM_HID_WRITE_PROGRESS = 0x046C;
inline constexpr unsigned WM_HID_READ_PROGRESS = 0x046D;

// Boot versions compare as unsigned numbers, so a failed query (-1, -2) counts
// as newer than every threshold.
inline bool BootVersionAtLeast(int64_t bootVersion, uint32_t threshold) {
  return static_cast<uint32_t>(bootVersion) >= threshold;
}

struct HidCommandPacket {
  static constexpr size_t kSize = 27;
  using Bytes = std::array<uint8_t, kSize>;

  uint8_t Code = 0;
  uint8_t Length = kHidPacketLength;
  uint32_t Param0 = 0;
  uint32_t Param1 = 0;
  uint32_t Param2 = 0;
  uint8_t Area = 0;
  uint32_t Param3 = 0;
  uint32_t Magic = kHidPacketMagic;
  uint32_t Checksum = 0;

  // Byte-for-byte wire form, little-endian, fields at their fixed offsets.
  Bytes Store() const;
  static HidCommandPacket Load(const Bytes& bytes);

  // A request as the host sends it: length 23, "HIDC", checksum over bytes 0..22.
  static HidCommandPacket Make(uint8_t code, uint32_t p0, uint32_t p1, uint32_t p2, uint8_t area,
                               uint32_t p3);
  // Sets Checksum from the other fields.
  void Seal();
  // Length 23, "HIDC" and a matching checksum.
  bool IsWellFormed() const;
};

// Receives the progress notices of page transfers (the window of the original
// design); called on the thread that runs the transfer.
class IHidNotify {
 public:
  virtual ~IHidNotify() = default;
  virtual void Post(unsigned message, uint32_t wParam, int32_t lParam) = 0;
};

class CHidCmd {
 public:
  explicit CHidCmd(std::unique_ptr<CHidIO> io);
  virtual ~CHidCmd();
  CHidCmd(const CHidCmd&) = delete;
  CHidCmd& operator=(const CHidCmd&) = delete;

  // Opens the first present interface of the device that opens. Fails when
  // already open.
  bool Open(IHidNotify* notify);
  // Opens one interface named by an arrival notice. Fails when already open.
  bool OpenPath(const std::string& path, IHidNotify* notify);
  // Raises the abort flag, waits for the exchange in progress and then
  // releases the device. Harmless when closed.
  void Close();
  bool IsOpen() const { return m_bOpen.load(); }
  OpenError LastOpenError() const { return m_lastOpenError; }

  // Holding this lock keeps other threads from interleaving their reports with
  // a composed exchange (a command followed by WritePages or ReadResponse).
  // Every operation below takes it too; it is recursive.
  std::unique_lock<std::recursive_mutex> LockExchange() {
    return std::unique_lock<std::recursive_mutex>(m_exchange);
  }

  bool SendCommand(uint8_t code, uint32_t param0, uint32_t param1, uint32_t param2, uint8_t area,
                   uint32_t param3);
  // True for a well-formed reply with status 0; `out` receives every
  // well-formed reply, whatever its status, and is cleared otherwise.
  bool ReadResponse(HidCommandPacket* out);
  // Whether the last reply read was well-formed but reported failure (as
  // opposed to missing or corrupt). Read it inside the same exchange.
  bool LastReplyRefused() const { return m_lastReplyRefused; }
  // Whether a page write's result counts as written: the full byte count, or,
  // with boot loaders before 1008 (which send no reply after page writes), a
  // missing reply; never a reply that refused the write.
  bool PageWriteTaken(int result, size_t expected, int64_t bootVersion) const {
    return result == int(expected) ||
           (result == -2 && !BootVersionAtLeast(bootVersion, 1008) && !m_lastReplyRefused);
  }
  int ReadPage(uint8_t area, uint32_t page, std::span<uint8_t, kPageSize> dest);
  int WritePages(uint32_t pageCount, std::span<const uint8_t> src);
  int Finish();
  int64_t GetBootVersion();
  int64_t GetCapacity();

  // Abort request for page transfers; cleared when a transfer starts, may be
  // set from any thread.
  std::atomic<bool> m_bAbort{false};

 private:
  int64_t Query(uint8_t code);
  bool TransferAllowed() const { return m_bOpen.load() && !m_bClosing.load(); }
  void Notify(unsigned message, int32_t bytes);

  std::unique_ptr<CHidIO> m_IO;
  Report m_Report{};
  std::atomic<bool> m_bOpen{false};
  std::atomic<bool> m_bClosing{false};
  IHidNotify* m_pNotifySink = nullptr;
  OpenError m_lastOpenError = OpenError::None;
  bool m_lastReplyRefused = false;
  std::recursive_mutex m_exchange;
};

}  // namespace orvane
