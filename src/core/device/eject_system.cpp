// The eject action of this machine. udisks2 first: it unmounts and ejects for
// the logged-in user without root, and keeps the desktop's view of the disk
// right. We talk to it with sd-bus (libsystemd), which every Debian system
// has anyway and which needs no main loop; starting `udisksctl` would add a
// runtime dependency and a text interface to parse. Where udisks2 cannot be
// reached we unmount and eject through the kernel, which needs root.
//
// Never Drive.PowerOff: it would cut the whole USB device off, the HID
// interface included.
#include <fcntl.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/device/eject.h"

namespace orvane {

namespace {

constexpr const char* kUdisksService = "org.freedesktop.UDisks2";

enum class Outcome { Done, Unavailable, Failed };

std::string UdisksBlockPath(const std::string& name) {
  std::string path = "/org/freedesktop/UDisks2/block_devices/";
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      path.push_back(char(c));
    } else {
      char esc[4];
      std::snprintf(esc, sizeof esc, "_%02x", c);
      path += esc;
    }
  }
  return path;
}

bool ErrorIs(const sd_bus_error& e, const char* name) { return sd_bus_error_has_name(&e, name); }

bool ServiceMissing(const sd_bus_error& e) {
  return ErrorIs(e, "org.freedesktop.DBus.Error.ServiceUnknown") ||
         ErrorIs(e, "org.freedesktop.DBus.Error.NameHasNoOwner") ||
         ErrorIs(e, "org.freedesktop.DBus.Error.NoReply") ||
         ErrorIs(e, "org.freedesktop.DBus.Error.Disconnected");
}

std::string ErrorText(const sd_bus_error& e, int r) {
  if (e.message) return e.message;
  return std::strerror(r < 0 ? -r : r);
}

struct BusCall {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  ~BusCall() {
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
  }
};

Outcome EjectWithUdisks(const EjectCandidate& disk, std::string* error) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) {
    *error = "no system bus";
    return Outcome::Unavailable;
  }
  struct BusCloser {
    sd_bus* b;
    ~BusCloser() { sd_bus_flush_close_unref(b); }
  } closer{bus};

  std::vector<const BlockNode*> nodes;
  for (const BlockNode& p : disk.partitions) nodes.push_back(&p);
  nodes.push_back(&disk.disk);
  for (const BlockNode* node : nodes) {
    BusCall call;
    const std::string path = UdisksBlockPath(node->name);
    const int r = sd_bus_call_method(bus, kUdisksService, path.c_str(), "org.freedesktop.UDisks2.Filesystem",
                                     "Unmount", &call.error, &call.reply, "a{sv}", 0);
    if (r >= 0) continue;
    // Not mounted, or no file system on this node: nothing to unmount.
    if (ErrorIs(call.error, "org.freedesktop.UDisks2.Error.NotMounted") ||
        ErrorIs(call.error, "org.freedesktop.DBus.Error.UnknownMethod") ||
        ErrorIs(call.error, "org.freedesktop.DBus.Error.UnknownInterface") ||
        ErrorIs(call.error, "org.freedesktop.DBus.Error.UnknownObject"))
      continue;
    *error = "udisks2 could not unmount " + node->devNode + ": " + ErrorText(call.error, r);
    return ServiceMissing(call.error) ? Outcome::Unavailable : Outcome::Failed;
  }

  BusCall prop;
  const std::string diskPath = UdisksBlockPath(disk.disk.name);
  int r = sd_bus_get_property(bus, kUdisksService, diskPath.c_str(), "org.freedesktop.UDisks2.Block", "Drive",
                              &prop.error, &prop.reply, "o");
  const char* drive = nullptr;
  if (r < 0 || sd_bus_message_read(prop.reply, "o", &drive) < 0 || !drive || std::strcmp(drive, "/") == 0) {
    *error = "udisks2 knows no drive for " + disk.disk.devNode;
    return ServiceMissing(prop.error) ? Outcome::Unavailable : Outcome::Failed;
  }
  BusCall eject;
  r = sd_bus_call_method(bus, kUdisksService, drive, "org.freedesktop.UDisks2.Drive", "Eject", &eject.error,
                         &eject.reply, "a{sv}", 0);
  if (r < 0) {
    *error = "udisks2 could not eject " + disk.disk.devNode + ": " + ErrorText(eject.error, r);
    return Outcome::Failed;
  }
  return Outcome::Done;
}

bool ScsiNoData(int fd, const uint8_t* cdb, uint8_t length) {
  sg_io_hdr_t io{};
  uint8_t sense[32]{};
  io.interface_id = 'S';
  io.cmd_len = length;
  io.cmdp = const_cast<uint8_t*>(cdb);
  io.dxfer_direction = SG_DXFER_NONE;
  io.sbp = sense;
  io.mx_sb_len = sizeof sense;
  io.timeout = 10000;  // ms
  if (::ioctl(fd, SG_IO, &io) < 0) return false;
  return io.status == 0 && io.host_status == 0 && (io.driver_status & 0x0F) == 0;
}

bool EjectWithKernel(const EjectCandidate& disk, std::string* error) {
  std::ifstream in("/proc/self/mountinfo");
  std::stringstream text;
  text << in.rdbuf();
  const std::string mountinfo = text.str();
  std::vector<const BlockNode*> nodes;
  for (const BlockNode& p : disk.partitions) nodes.push_back(&p);
  nodes.push_back(&disk.disk);
  for (const BlockNode* node : nodes) {
    for (const std::string& point : MountPointsOf(mountinfo, node->devNumbers)) {
      if (::umount2(point.c_str(), 0) != 0) {
        // Ejecting a mounted file system would lose what is still cached.
        *error = "cannot unmount " + point + ": " + std::strerror(errno);
        return false;
      }
    }
  }
  const int fd = ::open(disk.disk.devNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + disk.disk.devNode + ": " + std::strerror(errno);
    return false;
  }
  static constexpr uint8_t kAllowRemoval[6] = {0x1E, 0, 0, 0, 0, 0};
  static constexpr uint8_t kStopAndEject[6] = {0x1B, 0, 0, 0, 0x02, 0};  // LoEj=1, Start=0
  bool ok = ScsiNoData(fd, kAllowRemoval, 6) && ScsiNoData(fd, kStopAndEject, 6);
  if (!ok) ok = ::ioctl(fd, CDROMEJECT) == 0;
  const int err = errno;
  ::close(fd);
  if (!ok) *error = "cannot eject " + disk.disk.devNode + ": " + std::strerror(err);
  return ok;
}

}  // namespace

bool EjectDiskSystem(const EjectCandidate& disk, std::string* how, std::string* error) {
  std::string udisksError, kernelError;
  const Outcome viaUdisks = EjectWithUdisks(disk, &udisksError);
  if (viaUdisks == Outcome::Done) {
    if (how) *how = "udisks2";
    return true;
  }
  if (EjectWithKernel(disk, &kernelError)) {
    if (how) *how = "kernel";
    return true;
  }
  if (error) *error = udisksError + "; " + kernelError;
  return false;
}

}  // namespace orvane
