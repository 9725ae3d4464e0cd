// A fake sysfs tree in a temporary directory: disks with their parent chain
// (USB or not), hidraw nodes and block class entries, laid out with the same
// symlinks as the real one. Nothing here touches the real /sys or /dev.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace orvane::test {

class FakeSysfs {
 public:
  FakeSysfs() {
    static int counter = 0;
    m_root = std::filesystem::path(::testing::TempDir()) /
             ("orvane-sysfs-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(m_root);
    std::filesystem::create_directories(m_root / "block");
    std::filesystem::create_directories(m_root / "bus" / "usb");
    std::filesystem::create_directories(m_root / "bus" / "scsi");
    std::filesystem::create_directories(m_root / "bus" / "pci");
  }
  ~FakeSysfs() {
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
  }

  std::string Root() const { return m_root.string(); }
  std::filesystem::path Path(const std::string& rel) const { return m_root / rel; }

  void Write(const std::string& rel, const std::string& text) {
    std::filesystem::create_directories((m_root / rel).parent_path());
    std::ofstream(m_root / rel, std::ios::binary) << text;
  }
  void Link(const std::string& rel, const std::string& target) {
    std::filesystem::create_directories((m_root / rel).parent_path());
    std::filesystem::create_directory_symlink(target, m_root / rel);
  }
  // A device directory with its subsystem link, as sysfs has it.
  void Device(const std::string& rel, const std::string& subsystem) {
    std::filesystem::create_directories(m_root / rel);
    const auto up = std::filesystem::relative(m_root / "bus" / subsystem, m_root / rel);
    std::filesystem::create_directory_symlink(up, m_root / rel / "subsystem");
  }

  // A SCSI disk `name` (partitions name1..nameN) behind a USB or a SATA
  // controller. `vendor` is the raw attribute text (sysfs adds "\n"); an
  // empty optional leaves the attribute out.
  void Disk(const std::string& name, const std::optional<std::string>& vendor, bool usb, int partitions = 0,
            const std::string& removable = "0") {
    const int n = ++m_disks;
    std::string parent = "devices/pci0000:00/0000:00:1" + std::to_string(n) + ".0";
    Device(parent, "pci");
    if (usb) {
      parent += "/usb" + std::to_string(n);
      Device(parent, "usb");
      parent += "/" + std::to_string(n) + "-1";
      Device(parent, "usb");
      parent += "/" + std::to_string(n) + "-1:1.0";
      Device(parent, "usb");
    } else {
      parent += "/ata" + std::to_string(n);
      Device(parent, "pci");  // any non-USB subsystem
    }
    const std::string scsi = parent + "/host" + std::to_string(n) + "/target" + std::to_string(n) + ":0:0/" +
                             std::to_string(n) + ":0:0:0";
    Device(scsi, "scsi");
    if (vendor) Write(scsi + "/vendor", *vendor + "\n");
    const std::string blk = scsi + "/block/" + name;
    std::filesystem::create_directories(m_root / blk);
    Write(blk + "/removable", removable + "\n");
    Write(blk + "/dev", "8:" + std::to_string(16 * n) + "\n");
    Write(blk + "/uevent", "MAJOR=8\nMINOR=" + std::to_string(16 * n) + "\nDEVNAME=" + name + "\nDEVTYPE=disk\n");
    std::filesystem::create_directory_symlink("../../../" + std::to_string(n) + ":0:0:0", m_root / blk / "device");
    for (int p = 1; p <= partitions; ++p) {
      const std::string part = blk + "/" + name + std::to_string(p);
      Write(part + "/partition", std::to_string(p) + "\n");
      Write(part + "/dev", "8:" + std::to_string(16 * n + p) + "\n");
      Write(part + "/uevent", "DEVNAME=" + name + std::to_string(p) + "\nDEVTYPE=partition\n");
    }
    Link("block/" + name, "../" + blk);
  }

 private:
  std::filesystem::path m_root;
  int m_disks = 0;
};

}  // namespace orvane::test
