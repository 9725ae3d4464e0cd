// Fuzz target: settings-page recognition and every accessor of the record on
// arbitrary pages. Input: 256 page bytes, then a byte of device state (info
// page valid, previous brand), then four bytes of info-page format number.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/brands.h"
#include "core/settings/settings_exchange.h"
#include "core/update/update_file.h"

using namespace orvane;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Exercise(DeviceSettings s, int gen) {
  (void)s.ModelWord(gen);
  (void)s.ProgramVersion(gen);
  (void)s.Clock12(gen);
  (void)s.ShowNumber(gen);
  (void)s.TimeZone(gen);
  (void)s.BrightStart(gen);
  (void)s.BrightEnd(gen);
  const size_t n = s.BandCount(gen);
  Check(gen <= 2 ? n == settings_old::kBandCount : n <= settings_gen3::kMaxSubBands);
  const auto bands = DescribeBands(s, gen);
  Check(bands.size() == n);
  for (const BandInfo& b : bands) (void)FormatBandRange(b.range);
  for (size_t i = 0; i < n + 3; ++i) {
    Check(s.BandEnabled(gen, i).has_value() == (i < n));
    Check(s.SetBandEnabled(gen, i, (i & 1) != 0) == (i < n));
  }
  for (size_t i = 0; i < 30; ++i) (void)s.SubBandRange(i);
  (void)s.OptionLevel();
  (void)s.RadarLink();
  s.SetClock12(gen, true);
  s.SetShowNumber(gen, false);
  s.SetTimeZone(gen, -12);
  s.SetBrightStart(gen, 3);
  s.SetBrightEnd(gen, 23);
  // A page sealed for its generation is recognised as at least that generation.
  s.UpdateChecksum(gen);
  if (gen >= 1 && gen <= 3) {
    DeviceRecords again;
    again.m_Settings = s;
    DetectSettingsGeneration(again);
    Check(again.m_nSettingsGen >= gen || (gen == 3 && s.Marker() != kSettingsMarker));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DeviceRecords records;
  std::memcpy(records.m_Settings.Raw().data(), data, size < 256 ? size : 256);
  const uint8_t state = size > 256 ? data[256] : 0;
  records.m_bInfoValid = (state & 1) != 0;
  if (size >= 261) std::memcpy(&records.m_nSettingsFormat, data + 257, 4);
  if (state & 2) std::memcpy(records.m_szBrand.data(), "XVO", 3);
  if (state & 4) std::memcpy(records.m_szBrand.data(), brands::kBrand2.data(), brands::kBrand2.size());
  if (state & 8) {
    records.m_InfoPage.fill(state);
  }

  DetectSettingsGeneration(records);
  const int gen = records.m_nSettingsGen;
  Check(gen >= -1 && gen <= 3);

  (void)CheckConfigAllowed(true, records);
  (void)NeedsDefaultsQuestion(records);
  (void)OfferedSettings(records, records.m_Settings);
  (void)DeviceKey(records);
  for (int g : {-1, 0, 1, 2, 3, gen}) Exercise(records.m_Settings, g);

  for (size_t off = 0; off < 300; off += 7) {
    Check(records.m_Settings.Byte(off).has_value() == (off < 256));
    Check(records.m_Settings.Word(off).has_value() == (off + 4 <= 256));
  }
  return 0;
}
