#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <iostream>

#include "cli/cli.h"
#include "core/device/replay_io.h"
#include "core/device/trace_io.h"
#include "sim/virtual_hid_io.h"
#include "sim/virtual_plug.h"

namespace orvane::cli {

namespace {

constexpr const char* kNotConnected = "   未连接硬件！";

}  // namespace

std::string DefaultVirtualImagePath() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::filesystem::path(home) / ".local" / "share";
  else
    base = std::filesystem::temp_directory_path();
  return (base / "orvane" / "virtual-device.img").string();
}

std::string OpenFailureText(OpenError error) {
  if (error != OpenError::PermissionDenied) return kNotConnected;
  return std::string(kNotConnected) +
         " (the device is present but this user may not open it: install the udev rule "
         "70-orvane.rules into /etc/udev/rules.d (or install Orvane with the prefix /usr), run "
         "'udevadm control --reload' and replug the device; see README.md, \"Access without root\")";
}

int UsageError(const std::string& message) {
  std::cerr << "orvane-cli: " << message << "\n(see orvane-cli --help)\n";
  return kExitUsage;
}

int Failure(const std::string& message) {
  std::cerr << "orvane-cli: " << message << "\n";
  return kExitFailure;
}

bool ParseNumber(const std::string& text, uint32_t& value) {
  if (text.empty()) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return false;
  uint64_t v = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + uint64_t(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  value = uint32_t(v);
  return true;
}

CliContext::~CliContext() {
  if (m_session) m_session->Link().Close();
}

CDeviceSession* CliContext::Connect() {
  CDeviceSession* session = OpenSession();
  if (!session) return nullptr;
  if (session->m_bConnected) return session;  // one connect sequence per command
  if (!session->RunConnectSequence()) {
    Failure(kNotConnected);
    return nullptr;
  }
  return session;
}

std::string CliContext::VirtualImagePath() const {
  return m_options.virtualImage.empty() ? DefaultVirtualImagePath() : m_options.virtualImage;
}

CDeviceSession* CliContext::CreateSession() {
  if (m_session) return m_session.get();
  std::unique_ptr<CHidIO> io;
  if (m_options.virtualDevice) {
    m_imagePath = VirtualImagePath();
    std::error_code ec;
    m_imageExisted = std::filesystem::exists(m_imagePath, ec);
    if (m_imageExisted) {
      std::string error;
      std::unique_ptr<sim::CVirtualDevice> loaded = sim::CVirtualDevice::LoadImage(m_imagePath, &error);
      if (!loaded) {
        Failure(error);
        return nullptr;
      }
      m_device = std::move(loaded);
    } else {
      m_device = sim::MakeFactoryDevice();
    }
    // Unplugged from another process (orvane-cli unplug).
    if (!sim::ImageIsPlugged(m_imagePath)) m_device->Unplug();
    if (m_options.virtualLatencyUs) m_device->SetLatency(std::chrono::microseconds(m_options.virtualLatencyUs));
    io = std::make_unique<sim::CVirtualHidIO>(m_device);
  } else if (!m_options.replayFile.empty()) {
    std::ifstream in(m_options.replayFile);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<TraceEvent> events;
    std::string error;
    if (!in || !ParseTrace(text.str(), events, &error)) {
      Failure(m_options.replayFile + ": " + (in ? error : std::string("cannot be read")));
      return nullptr;
    }
    io = std::make_unique<CReplayHidIO>(std::move(events));
  } else {
    io = MakeHidApiIO();
  }
  if (!m_options.traceFile.empty()) {
    std::string error;
    auto traced = CTraceHidIO::Create(std::move(io), m_options.traceFile, &error);
    if (!traced) {
      Failure(error);
      return nullptr;
    }
    io = std::move(traced);
  }
  m_session = std::make_unique<CDeviceSession>(std::move(io));
  return m_session.get();
}

CDeviceSession* CliContext::OpenSession() {
  CDeviceSession* session = CreateSession();
  if (!session) return nullptr;
  if (session->IsOpen()) return session;
  if (!session->Open()) {
    Failure(OpenFailureText(session->Link().LastOpenError()));
    return nullptr;
  }
  return session;
}

bool CliContext::Finish() {
  if (m_session) m_session->Link().Close();
  return SaveVirtualImage();
}

bool CliContext::SaveVirtualImage() {
  if (!m_device) return true;
  if (m_imageExisted && !m_device->Dirty()) return true;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(m_imagePath).parent_path(), ec);
  std::string error;
  if (!m_device->SaveImage(m_imagePath, &error)) {
    Failure(error);
    return false;
  }
  m_imageExisted = true;
  return true;
}

}  // namespace orvane::cli
