// Removable-disk eject: the device can also present a USB disk; every such
// disk whose vendor identification is "vorthel" is unmounted and ejected.
// Other disks are never touched.
//
// The scan reads a sysfs tree given as a parameter and hands each disk it
// chose to an eject action, so tests run on a fake tree and only record what
// would be ejected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

inline constexpr const char* kDeviceDiskVendor = "vorthel";
// Size of the buffer a descriptor text is decoded into, terminator included;
// longer texts are cut.
inline constexpr size_t kDescriptorTextBuffer = 104;

// The text at `offset` of a storage descriptor (plain, or written as
// hexadecimal digit pairs), cleaned: empty for offset 0 or less, for an offset
// outside the descriptor, and for a text with a non-printable character.
std::string DecodeDescriptorString(std::span<const uint8_t> descriptor, int64_t offset);
// The same for a text on its own (a sysfs attribute): it ends at its first
// zero byte or at its end.
std::string DecodeDescriptorText(std::string_view text);

// One block device node: "sdb1", "/dev/sdb1", "8:17".
struct BlockNode {
  std::string name;
  std::string devNode;
  std::string devNumbers;  // major:minor; empty when sysfs does not say
};

// A disk the scan chose: the disk itself and its partitions.
struct EjectCandidate {
  BlockNode disk;
  std::vector<BlockNode> partitions;
  std::string vendor;  // as decoded
};

using EjectAction = std::function<void(const EjectCandidate&)>;

// Scans `sysfsRoot`/block: every disk that sits on a USB bus (so is
// hot-pluggable) and whose vendor field decodes to "vorthel" in any case goes
// to `eject`. Disks with missing or unreadable attributes are skipped. Returns
// the disks handed to `eject`.
std::vector<EjectCandidate> EjectDeviceVolume(const std::string& sysfsRoot, const EjectAction& eject);

// The eject action for this machine: unmounts the disk's file systems and
// ejects its medium through udisks2 on the system bus; where udisks2 cannot be
// reached, unmounts with umount2 and ejects with the kernel's ioctls. A disk
// whose file systems cannot all be unmounted is not ejected. Returns false,
// with `error` set, when the disk was not ejected.
bool EjectDiskSystem(const EjectCandidate& disk, std::string* how, std::string* error);

// Mount points of the given major:minor numbers in a mountinfo text
// (/proc/self/mountinfo), with its octal escapes undone.
std::vector<std::string> MountPointsOf(std::string_view mountinfo, std::string_view devNumbers);

}  // namespace orvane
