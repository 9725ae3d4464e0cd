#include "core/device/hid_cmd.h"

#include <algorithm>
#include <cstring>

#include "core/device/byte_sum.h"
#include "core/util/bytes.h"

namespace orvane {

HidCommandPacket::Bytes HidCommandPacket::Store() const {
  Bytes b{};
  b[0] = Code;
  b[1] = Length;
  StoreLE32<2>(b, Param0);
  StoreLE32<6>(b, Param1);
  StoreLE32<10>(b, Param2);
  b[14] = Area;
  StoreLE32<15>(b, Param3);
  StoreLE32<19>(b, Magic);
  StoreLE32<23>(b, Checksum);
  return b;
}

HidCommandPacket HidCommandPacket::Load(const Bytes& b) {
  HidCommandPacket p;
  p.Code = b[0];
  p.Length = b[1];
  p.Param0 = LoadLE32<2>(b);
  p.Param1 = LoadLE32<6>(b);
  p.Param2 = LoadLE32<10>(b);
  p.Area = b[14];
  p.Param3 = LoadLE32<15>(b);
  p.Magic = LoadLE32<19>(b);
  p.Checksum = LoadLE32<23>(b);
  return p;
}

HidCommandPacket HidCommandPacket::Make(uint8_t code, uint32_t p0, uint32_t p1, uint32_t p2,
                                        uint8_t area, uint32_t p3) {
  HidCommandPacket p;
  p.Code = code;
  p.Param0 = p0;
  p.Param1 = p1;
  p.Param2 = p2;
  p.Area = area;
  p.Param3 = p3;
  p.Seal();
  return p;
}

void HidCommandPacket::Seal() { Checksum = ByteSum(Store().data(), kHidPacketLength); }

bool HidCommandPacket::IsWellFormed() const {
  return Length == kHidPacketLength && Magic == kHidPacketMagic &&
         Checksum == ByteSum(Store().data(), kHidPacketLength);
}

CHidCmd::CHidCmd(std::unique_ptr<CHidIO> io) : m_IO(std::move(io)) {}

CHidCmd::~CHidCmd() { Close(); }

bool CHidCmd::Open(IHidNotify* notify) {
  std::lock_guard lock(m_exchange);
  if (m_bOpen) return false;
  m_lastOpenError = OpenError::NotFound;
  for (const std::string& path : m_IO->EnumerateTargets()) {
    if (m_IO->OpenPath(path)) {
      m_pNotifySink = notify;
      m_lastOpenError = OpenError::None;
      m_bOpen = true;
      return true;
    }
    // Remember the most telling reason: a device we may not open matters more
    // than one that vanished between enumeration and open.
    if (m_IO->LastOpenError() == OpenError::PermissionDenied ||
        m_lastOpenError == OpenError::NotFound)
      m_lastOpenError = m_IO->LastOpenError();
  }
  return false;
}

bool CHidCmd::OpenPath(const std::string& path, IHidNotify* notify) {
  std::lock_guard lock(m_exchange);
  if (m_bOpen) return false;
  if (!m_IO->OpenPath(path)) {
    m_lastOpenError = m_IO->LastOpenError();
    return false;
  }
  m_pNotifySink = notify;
  m_lastOpenError = OpenError::None;
  m_bOpen = true;
  return true;
}

void CHidCmd::Close() {
  // Stop the transfer in progress first, then wait for its exchange to end:
  // the handle is released only when nobody is using it.
  m_bClosing = true;
  m_bAbort = true;
  m_IO->Cancel();
  {
    std::lock_guard lock(m_exchange);
    if (m_bOpen) {
      m_IO->Close();
      m_bOpen = false;
    }
  }
  m_bClosing = false;
}

void CHidCmd::Notify(unsigned message, int32_t bytes) {
  if (m_pNotifySink) m_pNotifySink->Post(message, 0, bytes);
}

bool CHidCmd::SendCommand(uint8_t code, uint32_t param0, uint32_t param1, uint32_t param2,
                          uint8_t area, uint32_t param3) {
  std::lock_guard lock(m_exchange);
  if (!TransferAllowed()) return false;
  const HidCommandPacket::Bytes bytes =
      HidCommandPacket::Make(code, param0, param1, param2, area, param3).Store();
  // A reply that came too late for an earlier exchange must not be taken for
  // the answer to this one.
  m_IO->DiscardInput();
  m_Report.fill(0xCC);
  m_Report[0] = 0;
  std::copy(bytes.begin(), bytes.end(), m_Report.begin() + 1);
  return m_IO->WriteReport(m_Report, nullptr);
}

bool CHidCmd::ReadResponse(HidCommandPacket* out) {
  std::lock_guard lock(m_exchange);
  if (out) *out = HidCommandPacket::Load(HidCommandPacket::Bytes{});
  m_lastReplyRefused = false;
  if (!TransferAllowed()) return false;
  size_t n = 0;
  if (!m_IO->ReadReport(m_Report, &n)) return false;
  // Only the bytes that arrived count; a short reply leaves the rest zero and
  // so fails the checks below.
  HidCommandPacket::Bytes bytes{};
  const size_t got = std::min<size_t>(n > 0 ? n - 1 : 0, HidCommandPacket::kSize);
  std::copy_n(m_Report.begin() + 1, got, bytes.begin());
  const HidCommandPacket reply = HidCommandPacket::Load(bytes);
  if (!reply.IsWellFormed()) return false;
  if (out) *out = reply;
  m_lastReplyRefused = reply.Param0 != 0;
  return reply.Param0 == 0;
}

int CHidCmd::ReadPage(uint8_t area, uint32_t page, std::span<uint8_t, kPageSize> dest) {
  std::lock_guard lock(m_exchange);
  if (!SendCommand(HID_CMD_READ_PAGE, page, 1, 0, area, 0)) return -1;
  m_bAbort = false;
  size_t received = 0;
  while (received < kPageSize) {
    size_t n = 0;
    if (!TransferAllowed() || !m_IO->ReadReport(m_Report, &n)) return int(received);
    // A report without payload would never finish the page: count it as failed.
    if (n < 2) return int(received);
    const size_t k = std::min<size_t>(n - 1, kReportPayload);
    const size_t copied = std::min(k, kPageSize - received);
    std::copy_n(m_Report.begin() + 1, copied, dest.begin() + received);
    Notify(WM_HID_READ_PROGRESS, int32_t(k));
    received += copied;
    if (m_bAbort || m_bClosing) return 0;
  }
  return ReadResponse(nullptr) ? int(received) : -2;
}

int CHidCmd::WritePages(uint32_t pageCount, std::span<const uint8_t> src) {
  std::lock_guard lock(m_exchange);
  m_lastReplyRefused = false;
  const size_t total = size_t(pageCount) * kPageSize;
  if (src.size() < total) return -1;  // never read past the caller's buffer
  m_bAbort = false;
  size_t sent = 0;
  while (sent < total) {
    const size_t chunk = std::min(kReportPayload, total - sent);
    m_Report.fill(0xCC);
    m_Report[0] = 0;
    std::copy_n(src.begin() + sent, chunk, m_Report.begin() + 1);
    size_t n = 0;
    if (!TransferAllowed() || !m_IO->WriteReport(m_Report, &n)) return int(sent);
    if (n < 2) return int(sent);
    const size_t k = std::min<size_t>(n - 1, kReportPayload);
    Notify(WM_HID_WRITE_PROGRESS, int32_t(k));
    sent += std::min(k, total - sent);
    if (m_bAbort || m_bClosing) return 0;
  }
  return ReadResponse(nullptr) ? int(sent) : -2;
}

int64_t CHidCmd::Query(uint8_t code) {
  std::lock_guard lock(m_exchange);
  if (!SendCommand(code, kHidMarkerWord, kHidQueryWord, 0, 0, 0)) return -1;
  HidCommandPacket reply;
  if (!ReadResponse(&reply)) return -2;
  return reply.Param1;
}

int CHidCmd::Finish() {
  const int64_t r = Query(HID_CMD_FINISH);
  return r < 0 ? int(r) : 1;
}

int64_t CHidCmd::GetBootVersion() { return Query(HID_CMD_GET_BOOT_VERSION); }

int64_t CHidCmd::GetCapacity() { return Query(HID_CMD_GET_CAPACITY); }

}  // namespace orvane
