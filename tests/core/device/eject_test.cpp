// The descriptor text decoder and the eject scan on fake sysfs trees: which
// disks would be ejected (recorded, never ejected for real).
#include <gtest/gtest.h>

#include <vector>

#include "core/device/eject.h"
#include "fake_sysfs.h"

namespace orvane {
namespace {

TEST(DecodeDescriptorText, PlainHexAndRejectedTexts) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"4a4b", "JK"},                              // hexadecimal pairs
      {"4142zz", "4142zz"},                        // not hexadecimal after all: read plainly
      {"vorthel ", "vorthel"},                     // the padded vendor field, trimmed
      {"VORTHEL ", "VORTHEL"},
      {"  vorthel\t", ""},                         // a tab is not printable in the plain reading
      {"  vorthel  ", "vorthel"},                  // leading blanks count as hex zeros until 'v'
      {"766f727468656c20", "vorthel"},             // the same word in hex pairs
      {"4a4", "J"},                                // the incomplete last pair is dropped
      {"4a004b", "J"},                             // a zero byte ends the text
      {"0a", "0a"},                                // a control character is no hex result
      {std::string("vort\x01" "el"), ""},          // a non-printable character: empty
      {std::string("abc\x80"), ""},                // 8-bit bytes are not printable either
      {"", ""},
      {"   ", ""},                                 // blanks are zeros: an empty text
      {std::string("vorthel\0junk", 12), "vorthel"},  // the text ends at its zero
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeDescriptorText(c.text), c.expected) << "text: " << c.text;
}

TEST(DecodeDescriptorText, NeverLongerThanTheBuffer) {
  EXPECT_EQ(DecodeDescriptorText(std::string(300, 'q')), std::string(kDescriptorTextBuffer - 1, 'q'));
  std::string hex;
  for (int i = 0; i < 200; ++i) hex += "41";
  EXPECT_EQ(DecodeDescriptorText(hex), std::string(kDescriptorTextBuffer - 1, 'A'));
}

TEST(DecodeDescriptorString, OffsetsInsideAndOutsideTheDescriptor) {
  std::vector<uint8_t> d(40, 0);
  const char vendor[] = "vorthel ";
  std::copy(vendor, vendor + 8, d.begin() + 20);
  EXPECT_EQ(DecodeDescriptorString(d, 20), "vorthel");
  EXPECT_EQ(DecodeDescriptorString(d, 0), "");   // no vendor text
  EXPECT_EQ(DecodeDescriptorString(d, -4), "");
  EXPECT_EQ(DecodeDescriptorString(d, 40), "");  // past the end
  EXPECT_EQ(DecodeDescriptorString(d, 1000), "");
  // A text that runs to the end without a terminator stops there.
  std::vector<uint8_t> unterminated = {0, 'J', 'K'};
  EXPECT_EQ(DecodeDescriptorString(unterminated, 1), "JK");
}

std::vector<std::string> Scan(const test::FakeSysfs& sys, std::vector<EjectCandidate>* chosen = nullptr) {
  std::vector<std::string> recorded;
  auto result = EjectDeviceVolume(sys.Root(), [&](const EjectCandidate& c) { recorded.push_back(c.disk.name); });
  if (chosen) *chosen = result;
  return recorded;
}

TEST(EjectDeviceVolume, OnlyUsbDisksOfTheDevicesVendor) {
  test::FakeSysfs sys;
  sys.Disk("sda", "vorthel ", /*usb=*/false, 2, "1");  // the right name, but not on USB
  sys.Disk("sdb", "vorthel ", true, 1, "0");           // removable 0, as many enclosures say
  sys.Disk("sdc", "VORTHEL ", true, 0, "1");
  sys.Disk("sdd", "Kingston", true, 1, "1");
  sys.Disk("sde", std::nullopt, true);                 // no vendor attribute
  sys.Disk("sdf", std::string("vort\x01" "el"), true);
  sys.Disk("sdg", "766f727468656c20", true);           // vendor in hex pairs
  sys.Disk("sdh", "vorthelx", true);
  std::vector<EjectCandidate> chosen;
  EXPECT_EQ(Scan(sys, &chosen), (std::vector<std::string>{"sdb", "sdc", "sdg"}));
  ASSERT_EQ(chosen.size(), 3u);
  EXPECT_EQ(chosen[0].disk.devNode, "/dev/sdb");
  EXPECT_EQ(chosen[0].vendor, "vorthel");
  ASSERT_EQ(chosen[0].partitions.size(), 1u);
  EXPECT_EQ(chosen[0].partitions[0].devNode, "/dev/sdb1");
  EXPECT_EQ(chosen[0].disk.devNumbers, "8:32");
  EXPECT_EQ(chosen[0].partitions[0].devNumbers, "8:33");
}

TEST(EjectDeviceVolume, OddTreesAreSkippedWithoutHarm) {
  test::FakeSysfs sys;
  sys.Disk("sdb", "vorthel ", true);
  // Devices without a device link, a dangling link, a link out of the tree,
  // a plain file where a directory belongs, an unreadable vendor.
  sys.Write("block/loop0/dev", "7:0\n");
  sys.Link("block/sdx", "../devices/nowhere/sdx");
  sys.Write("block/sdy/device/vendor", "vorthel \n");  // vendor right, but no bus at all
  test::FakeSysfs outside;  // a USB vorthel disk, but in another tree
  outside.Disk("sdq", "vorthel ", true);
  std::filesystem::create_directories(sys.Path("block/sdz"));
  std::filesystem::create_directory_symlink(std::filesystem::canonical(outside.Path("block/sdq/device")),
                                            sys.Path("block/sdz/device"));
  sys.Write("block/sdw", "not a directory");
  sys.Disk("sdv", "vorthel ", true);
  std::filesystem::remove(sys.Path("block/sdv/device"));
  std::filesystem::create_directory(sys.Path("block/sdv/device"));
  std::filesystem::create_directory(sys.Path("block/sdv/device/vendor"));  // a directory, not a file
  EXPECT_EQ(Scan(sys), std::vector<std::string>{"sdb"});

  test::FakeSysfs empty;
  std::filesystem::remove_all(empty.Path("block"));
  EXPECT_TRUE(Scan(empty).empty());
}

TEST(MountPointsOf, FindsTheMountsOfOneNodeAndUndoesEscapes) {
  const std::string mountinfo =
      "22 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
      "90 22 8:17 / /media/user/VOR\\040THEL rw,nosuid shared:50 - vfat /dev/sdb1 rw\n"
      "91 22 8:17 / /mnt/second rw shared:51 - vfat /dev/sdb1 rw\n"
      "92 22 8:18 / /mnt/other rw shared:52 - vfat /dev/sdb2 rw\n"
      "broken line\n"
      "93 22 8:17\n";
  EXPECT_EQ(MountPointsOf(mountinfo, "8:17"), (std::vector<std::string>{"/media/user/VOR THEL", "/mnt/second"}));
  EXPECT_TRUE(MountPointsOf(mountinfo, "8:1").empty());
  EXPECT_TRUE(MountPointsOf(mountinfo, "").empty());
}

}  // namespace
}  // namespace orvane
