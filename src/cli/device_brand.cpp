// The connected device's brand, as the connect sequence leaves it (it may
// have filled in a never-written brand page).
#include "cli/cli.h"

namespace orvane::cli {

bool ReadConnectedBrand(CliContext& ctx, std::array<uint8_t, 256>& brand, std::string* error) {
  CDeviceSession* session = ctx.Connect();
  if (!session) {
    if (error) *error = "the device could not be connected";
    return false;
  }
  brand = session->m_szBrand;
  return true;
}

}  // namespace orvane::cli
