// The connected device's brand page, read the way the connect sequence reads
// it. A stand-in until the shared device session provides the records.
#include <iostream>

#include "cli/cli.h"
#include "core/device/byte_sum.h"
#include "core/util/bytes.h"

namespace orvane::cli {

bool ReadConnectedBrand(CliContext& ctx, std::array<uint8_t, 256>& brand, std::string* error) {
  CHidCmd* link = ctx.OpenLink();
  if (!link) {
    if (error) *error = "the device could not be opened";
    return false;
  }
  std::array<uint8_t, kPageSize> info{};
  if (link->ReadPage(0, kInfoPage, info) != int(kPageSize)) {
    if (error) *error = "reading the device's info page failed";
    return false;
  }
  // Valid: marker at 231 and the byte sum of bytes 4..234 at 0.
  const bool infoValid = LoadLE32<231>(info) == kHidMarkerWord &&
                         LoadLE32<0>(info) == ByteSum(info.data() + 4, 231);
  brand.fill(0);
  // A short read leaves the rest zero; the brand is compared as it is.
  std::array<uint8_t, kPageSize> page{};
  link->ReadPage(0, infoValid ? kBrandPage : kBrandPageOld, page);
  brand = page;
  return true;
}

}  // namespace orvane::cli
