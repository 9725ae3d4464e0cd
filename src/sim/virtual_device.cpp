#include "sim/virtual_device.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/device/byte_sum.h"
#include "core/brands.h"
#include "core/settings/device_settings.h"
#include "core/update/info_page.h"
#include "core/update/scramble.h"
#include "core/util/bytes.h"

namespace orvane::sim {

namespace {

// hidraw keeps at most this many unread input reports; older ones are dropped.
constexpr size_t kMaxQueuedReports = 64;

constexpr char kImageMagic[8] = {'O', 'R', 'V', 'A', 'N', 'E', 'V', 'D'};
constexpr uint32_t kImageFormat = 1;
constexpr size_t kImageHeaderSize = 64;
constexpr uint32_t kMaxCapacity = 256u << 20;

bool ValidCapacity(uint32_t capacity) {
  return capacity >= kSectorSize && capacity <= kMaxCapacity && capacity % kSectorSize == 0;
}

}  // namespace

CVirtualDevice::CVirtualDevice(VirtualDeviceConfig config) : m_config(config) {
  if (!ValidCapacity(m_config.capacity)) m_config.capacity = kDefaultCapacity;
  m_area[0].assign(m_config.capacity, 0xFF);
  m_area[1].assign(m_config.capacity, 0xFF);
}

uint64_t CVirtualDevice::Generation() const {
  std::lock_guard lock(m_mutex);
  return m_generation;
}

bool CVirtualDevice::IsPlugged() const {
  std::lock_guard lock(m_mutex);
  return m_plugged;
}

void CVirtualDevice::Plug() {
  std::lock_guard lock(m_mutex);
  m_plugged = true;
}

void CVirtualDevice::Unplug() {
  std::lock_guard lock(m_mutex);
  UnplugLocked();
}

void CVirtualDevice::UnplugLocked() {
  if (!m_plugged) return;
  m_plugged = false;
  ++m_generation;
  m_out.clear();
  m_receive = Receive{};
}

void CVirtualDevice::AddFault(Fault fault) {
  std::lock_guard lock(m_mutex);
  const bool perReport = fault.kind == FaultKind::TimeoutReport || fault.kind == FaultKind::Disconnect;
  fault.n += perReport ? m_reportIndex : m_stats.commands;
  m_faults.push_back(fault);
}

void CVirtualDevice::ClearFaults() {
  std::lock_guard lock(m_mutex);
  m_faults.clear();
}

void CVirtualDevice::SetLatency(std::chrono::microseconds perReport) {
  std::lock_guard lock(m_mutex);
  m_latency = perReport;
}

std::chrono::microseconds CVirtualDevice::Latency() const {
  std::lock_guard lock(m_mutex);
  return m_latency;
}

bool CVirtualDevice::ReportFault(FaultKind kind) {
  for (const Fault& f : m_faults)
    if (f.kind == kind && f.n == m_reportIndex) return true;
  return false;
}

bool CVirtualDevice::CommandFault(FaultKind kind, uint64_t commandIndex) const {
  for (const Fault& f : m_faults)
    if (f.kind == kind && f.n == commandIndex) return true;
  return false;
}

WireResult CVirtualDevice::StartReport() {
  if (!m_plugged) return WireResult::Disconnected;
  ++m_reportIndex;
  if (ReportFault(FaultKind::Disconnect)) {
    UnplugLocked();
    return WireResult::Disconnected;
  }
  return ReportFault(FaultKind::TimeoutReport) ? WireResult::Timeout : WireResult::Ok;
}

WireResult CVirtualDevice::HostWrite(const Report& report) {
  std::lock_guard lock(m_mutex);
  if (const WireResult r = StartReport(); r != WireResult::Ok) return r;  // a timed-out report is lost
  if (m_receive.active)
    HandleData(report);
  else
    HandleCommand(report);
  return WireResult::Ok;
}

WireResult CVirtualDevice::HostRead(Report& report) {
  std::lock_guard lock(m_mutex);
  if (const WireResult r = StartReport(); r != WireResult::Ok) return r;
  if (m_out.empty()) return WireResult::Timeout;
  report = m_out.front();
  m_out.pop_front();
  return WireResult::Ok;
}

void CVirtualDevice::HostDiscardInput() {
  std::lock_guard lock(m_mutex);
  m_out.clear();
}

void CVirtualDevice::QueueReport(const Report& report) {
  if (m_out.size() >= kMaxQueuedReports) m_out.pop_front();
  m_out.push_back(report);
}

void CVirtualDevice::QueueReply(uint8_t code, uint32_t status, uint32_t result,
                                uint64_t commandIndex) {
  if (status != 0) ++m_stats.rejected;
  if (CommandFault(FaultKind::DropReply, commandIndex)) return;
  HidCommandPacket reply;
  reply.Code = code;
  reply.Param0 = status;
  reply.Param1 = result;
  reply.Seal();
  if (CommandFault(FaultKind::CorruptReply, commandIndex)) reply.Checksum += 1;
  Report r{};
  const HidCommandPacket::Bytes bytes = reply.Store();
  std::copy(bytes.begin(), bytes.end(), r.begin() + 1);
  QueueReport(r);
}

uint8_t* CVirtualDevice::Page(uint8_t area, uint32_t page) {
  return m_area[area].data() + size_t(page) * kPageSize;
}

void CVirtualDevice::HandleCommand(const Report& report) {
  HidCommandPacket::Bytes bytes;
  std::copy_n(report.begin() + 1, bytes.size(), bytes.begin());
  const HidCommandPacket cmd = HidCommandPacket::Load(bytes);
  const uint64_t index = ++m_stats.commands;
  if (m_commandLog.size() < 4096) m_commandLog.push_back({cmd.Code, m_reportIndex});

  if (!cmd.IsWellFormed()) return QueueReply(cmd.Code, kStatusBadPacket, 0, index);

  const bool injectedFailure = CommandFault(FaultKind::FailCommand, index);
  const bool queryWords = cmd.Param0 == kHidMarkerWord && cmd.Param1 == kHidQueryWord;
  const uint32_t pages = PageCount();

  switch (cmd.Code) {
    case HID_CMD_GET_BOOT_VERSION:
      if (injectedFailure) return QueueReply(cmd.Code, kStatusInjectedFailure, 0, index);
      if (!queryWords) return QueueReply(cmd.Code, kStatusBadParameter, 0, index);
      return QueueReply(cmd.Code, 0, m_config.bootVersion, index);

    case HID_CMD_GET_CAPACITY:
      if (m_config.bootVersion < 1011) return QueueReply(cmd.Code, kStatusUnknownCommand, 0, index);
      if (injectedFailure) return QueueReply(cmd.Code, kStatusInjectedFailure, 0, index);
      if (!queryWords) return QueueReply(cmd.Code, kStatusBadParameter, 0, index);
      return QueueReply(cmd.Code, 0, m_config.capacity, index);

    case HID_CMD_FINISH:
      if (injectedFailure) return QueueReply(cmd.Code, kStatusInjectedFailure, 0, index);
      if (!queryWords) return QueueReply(cmd.Code, kStatusBadParameter, 0, index);
      ++m_stats.finishes;
      return QueueReply(cmd.Code, 0, 0, index);

    case HID_CMD_CLOSE:
      if (m_config.bootVersion < 1010) return QueueReply(cmd.Code, kStatusUnknownCommand, 0, index);
      if (injectedFailure) return QueueReply(cmd.Code, kStatusInjectedFailure, 0, index);
      ++m_stats.closes;
      return QueueReply(cmd.Code, 0, 0, index);

    case HID_CMD_READ_PAGE: {
      const bool valid = !injectedFailure && cmd.Area <= 1 && cmd.Param1 == 1 && cmd.Param0 < pages;
      // The firmware always streams four data reports, then the reply; on a
      // refused read the data is erased-state filler.
      for (size_t i = 0; i < kPageSize / kReportPayload; ++i) {
        Report r{};
        if (valid)
          std::memcpy(r.data() + 1, Page(cmd.Area, cmd.Param0) + i * kReportPayload, kReportPayload);
        else
          std::fill(r.begin() + 1, r.end(), 0xFF);
        QueueReport(r);
      }
      if (valid) ++m_stats.pagesRead;
      const uint32_t status = injectedFailure ? uint32_t(kStatusInjectedFailure)
                              : valid         ? 0u
                                              : uint32_t(kStatusBadParameter);
      return QueueReply(cmd.Code, status, 0, index);
    }

    case HID_CMD_WRITE_PAGES: {
      const uint32_t first = cmd.Param0, count = cmd.Param1;
      // A count the device could never hold is refused at once: no data follows
      // that it could wait for.
      if (count == 0 || count > pages) return QueueReply(cmd.Code, kStatusBadParameter, 0, index);
      m_receive = Receive{};
      m_receive.active = true;
      m_receive.area = cmd.Area;
      m_receive.firstPage = first;
      m_receive.pageCount = count;
      m_receive.lengthWord = cmd.Param2;
      m_receive.checksumWord = cmd.Param3;
      m_receive.commandIndex = index;
      m_receive.data.reserve(size_t(count) * kPageSize);
      const bool inRange = cmd.Area <= 1 && first < pages && count <= pages - first &&
                           cmd.Param2 <= uint64_t(count) * kPageSize;
      m_receive.accept = inRange && !injectedFailure;
      m_receive.status = injectedFailure ? kStatusInjectedFailure : kStatusBadParameter;
      return;
    }

    case HID_CMD_ERASE_SECTORS: {
      const uint32_t first = cmd.Param0, count = cmd.Param1;
      const uint32_t sectors = m_config.capacity / uint32_t(kSectorSize);
      if (injectedFailure) return QueueReply(cmd.Code, kStatusInjectedFailure, 0, index);
      if (cmd.Area > 1 || count == 0 || first >= sectors || count > sectors - first)
        return QueueReply(cmd.Code, kStatusBadParameter, 0, index);
      std::fill_n(m_area[cmd.Area].begin() + size_t(first) * kSectorSize, size_t(count) * kSectorSize,
                  0xFF);
      m_stats.sectorsErased += count;
      m_dirty = true;
      return QueueReply(cmd.Code, 0, 0, index);
    }

    default:
      return QueueReply(cmd.Code, kStatusUnknownCommand, 0, index);
  }
}

bool CVirtualDevice::LooksLikeCommand(const Report& report) {
  HidCommandPacket::Bytes bytes;
  std::copy_n(report.begin() + 1, bytes.size(), bytes.begin());
  const HidCommandPacket p = HidCommandPacket::Load(bytes);
  return p.IsWellFormed() && p.Code >= HID_CMD_ERASE_SECTORS;
}

void CVirtualDevice::HandleData(const Report& report) {
  Receive& rx = m_receive;
  // A host that lost a data report has moved on: its next command ends the
  // incomplete write, which stores nothing and is not answered.
  if (LooksLikeCommand(report)) {
    rx = Receive{};
    ++m_stats.abandonedWrites;
    return HandleCommand(report);
  }
  rx.data.insert(rx.data.end(), report.begin() + 1, report.end());
  const size_t total = size_t(rx.pageCount) * kPageSize;
  if (rx.data.size() < total) return;

  uint32_t status = rx.accept ? 0 : rx.status;
  if (status == 0 && rx.checksumWord != 0) {
    // A zero checksum word announces no sum (record pages written as they are).
    const uint32_t sum = rx.lengthWord == 0 ? ByteSum(rx.data.data(), total)
                                            : ScrambledSum(rx.data.data(), rx.lengthWord, total);
    if (sum != rx.checksumWord) status = kStatusBadChecksum;
  }
  if (status == 0) {
    std::memcpy(Page(rx.area, rx.firstPage), rx.data.data(), total);
    m_stats.pagesWritten += rx.pageCount;
    m_dirty = true;
  }
  const uint64_t index = rx.commandIndex;
  rx = Receive{};
  // Boot loaders before 1008 send no valid reply after page writes.
  if (m_config.bootVersion < 1008) {
    if (status != 0) ++m_stats.rejected;
    return;
  }
  QueueReply(HID_CMD_WRITE_PAGES, status, 0, index);
}

std::vector<uint8_t> CVirtualDevice::ReadPageDirect(uint8_t area, uint32_t page) const {
  std::lock_guard lock(m_mutex);
  if (area > 1 || page >= PageCount()) return {};
  const uint8_t* p = m_area[area].data() + size_t(page) * kPageSize;
  return std::vector<uint8_t>(p, p + kPageSize);
}

void CVirtualDevice::WritePageDirect(uint8_t area, uint32_t page, std::span<const uint8_t> data) {
  std::lock_guard lock(m_mutex);
  if (area > 1 || page >= PageCount()) return;
  std::copy_n(data.begin(), std::min(data.size(), kPageSize), Page(area, page));
  m_dirty = true;
}

std::span<const uint8_t> CVirtualDevice::AreaBytes(uint8_t area) const {
  return m_area[area > 1 ? 1 : area];
}

CVirtualDevice::Stats CVirtualDevice::GetStats() const {
  std::lock_guard lock(m_mutex);
  Stats s = m_stats;
  s.reports = m_reportIndex;
  return s;
}

std::vector<CVirtualDevice::CommandRecord> CVirtualDevice::CommandLog() const {
  std::lock_guard lock(m_mutex);
  return m_commandLog;
}

bool CVirtualDevice::Dirty() const {
  std::lock_guard lock(m_mutex);
  return m_dirty;
}

bool CVirtualDevice::SaveImage(const std::string& path, std::string* error) {
  std::lock_guard lock(m_mutex);
  std::array<uint8_t, kImageHeaderSize> header{};
  std::memcpy(header.data(), kImageMagic, sizeof kImageMagic);
  StoreLE32<8>(header, kImageFormat);
  StoreLE32<12>(header, m_config.bootVersion);
  StoreLE32<16>(header, m_config.capacity);

  // Write beside the image and rename, so a crash never leaves half an image.
  const std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot write " + tmp + ": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
  for (const auto& area : m_area)
    ok = ok && std::fwrite(area.data(), 1, area.size(), f) == area.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
  }
  m_dirty = false;
  return true;
}

std::unique_ptr<CVirtualDevice> CVirtualDevice::LoadImage(const std::string& path,
                                                          std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<CVirtualDevice> {
    if (error) *error = path + ": " + why;
    return nullptr;
  };
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return fail(std::strerror(errno));
  std::array<uint8_t, kImageHeaderSize> header{};
  const bool headerRead = std::fread(header.data(), 1, header.size(), f) == header.size();
  if (!headerRead || std::memcmp(header.data(), kImageMagic, sizeof kImageMagic) != 0 ||
      LoadLE32<8>(header) != kImageFormat) {
    std::fclose(f);
    return fail("not a virtual device image");
  }
  VirtualDeviceConfig config;
  config.bootVersion = LoadLE32<12>(header);
  config.capacity = LoadLE32<16>(header);
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (!ValidCapacity(config.capacity) || ec ||
      size != kImageHeaderSize + 2 * uint64_t(config.capacity)) {
    std::fclose(f);
    return fail("virtual device image has a bad size or capacity");
  }
  auto device = std::make_unique<CVirtualDevice>(config);
  bool ok = true;
  for (auto& area : device->m_area)
    ok = ok && std::fread(area.data(), 1, area.size(), f) == area.size();
  std::fclose(f);
  if (!ok) return fail("virtual device image is truncated");
  return device;
}

namespace {

// A generation-3 settings page as a radar unit leaves it after its first
// correct connection: 12 sub-bands (X, Ku, K1..K4, Ka1..Ka5, laser), all on.
DeviceSettings FactorySettings() {
  using namespace settings_gen3;
  DeviceSettings s;
  s.SetWord(kModelWord, 0x204B3354);  // "T3K "
  s.SetWord(kProgramVersion, 1206);
  s.SetByte(kFlags, kFlagNumberOffered | kFlagShowNumber);
  s.SetByte(kTimeZone, 8);
  const uint8_t counts[kBandGroups] = {1, 1, 4, 5, 1};
  for (size_t g = 0; g < kBandGroups; ++g) s.SetByte(kBandCount + g, counts[g]);
  const uint16_t ranges[][2] = {{10480, 10720}, {13350, 13540}, {22700, 23660}, {23660, 24060},
                                {24060, 24410}, {24410, 24900}, {33700, 34200}, {34200, 34600},
                                {34600, 35450}, {35450, 35950}, {35950, 36300}, {0, 0}};
  for (size_t i = 0; i < std::size(ranges); ++i) {
    s.SetByte(kBandEnable + i, 1);
    s.SetWord(kBandRange + i * 4, uint32_t(ranges[i][0]) | uint32_t(ranges[i][1]) << 16);
  }
  s.SetByte(kOptionLevel, 5);
  s.SetByte(kBrightStart, 7);
  s.SetByte(kBrightEnd, 18);
  s.SetByte(kRadarLink, 1);
  s.SetWord(kFormatNumber, 6);
  s.SetWord(kMarker, kSettingsMarker);
  s.UpdateChecksum(3);
  return s;
}

}  // namespace

std::unique_ptr<CVirtualDevice> MakeFactoryDevice(VirtualDeviceConfig config) {
  auto device = std::make_unique<CVirtualDevice>(config);
  device->WritePageDirect(0, kSettingsPage, FactorySettings().Raw());
  const uint32_t capacity = device->Config().capacity;
  if (capacity < kFactoryTableEnd) return device;  // too small for a table: fixed layout, erased

  // An area table as a device leaves the factory with, its brand page, and a
  // dated data region.
  InfoPage info;
  info.SetModelWord(0x204B3354);
  info.SetProgramVersion(1206);
  info.SetSettingsFormat(6);
  info.SetCreatedFlag(1);
  info.SetCapacity(capacity);
  info.SetReservedStart(0x19000);
  info.SetReservedLength(0x2000);
  info.SetArea3Start(0x1B000);
  info.SetArea3Length(0x100000);
  info.SetArea2Start(0x11B000);
  info.SetArea2Length(0x40000);
  info.SetArea4Start(0x15B000);
  info.SetArea4Length(0x200000);
  info.SetArea5Start(kFactoryTableEnd);
  info.SetEnd(kFactoryTableEnd);
  info.SetMagic(kMarkerWord);
  info.Seal();
  device->WritePageDirect(0, kInfoPage, info.bytes());

  std::array<uint8_t, kPageSize> brand{};
  const std::string_view text = brands::IsUnbrandedBuild() ? brands::kBrand1 : brands::kBuildBrand;
  std::copy(text.begin(), text.end(), brand.begin());
  device->WritePageDirect(0, kBrandPage, brand);

  std::array<uint8_t, kPageSize> dated;
  dated.fill(0xFF);
  StoreLE32<0>(dated, kFactoryDateStamp);
  device->WritePageDirect(1, info.Area4Start() / kPageSize, dated);
  return device;
}

}  // namespace orvane::sim
