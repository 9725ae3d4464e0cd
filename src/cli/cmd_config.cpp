// config show / config set: the device's settings page from a terminal, with
// the checks and texts of the settings dialog.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iostream>

#include "cli/cli.h"
#include "core/settings/settings_exchange.h"
#include "core/update/update_file.h"

namespace orvane::cli {

namespace {

const char* OnOff(bool on) { return on ? "on" : "off"; }

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseInt(const std::string& text, int& value) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value);
  return r.ec == std::errc() && r.ptr == end;
}

bool ParseSwitch(const std::string& text, bool& on) {
  const std::string t = Lower(text);
  if (t == "on" || t == "1" || t == "yes") on = true;
  else if (t == "off" || t == "0" || t == "no") on = false;
  else return false;
  return true;
}

// The CLI's way into the device's records: the connect sequence, as the
// window runs it before Config is offered. nullptr after printing why.
CHidCmd* OpenAndRead(CliContext& ctx, DeviceRecords& records, int& rc) {
  CDeviceSession* session = ctx.Connect();
  if (!session) {
    rc = kExitFailure;
    return nullptr;
  }
  records = *session;
  return &session->Link();
}

void PrintSettings(const DeviceRecords& r) {
  const DeviceSettings& s = r.m_Settings;
  const int gen = r.m_nSettingsGen;
  std::cout << "generation: " << gen << "\n"
            << "format_number: " << r.m_nSettingsFormat << "\n";
  char checksum[32];
  std::snprintf(checksum, sizeof checksum, "0x%08X", s.Checksum());
  std::cout << "checksum: " << checksum << "\n"
            << "model: \"" << KeyText(s.ModelWord(gen)) << "\"\n"
            << "program_version: " << s.ProgramVersion(gen) << "\n";
  char flags[8];
  std::snprintf(flags, sizeof flags, "0x%02X", s.Flags(gen));
  std::cout << "flags: " << flags << "\n"
            << "clock12: " << OnOff(s.Clock12(gen)) << "\n"
            << "show_number: " << OnOff(s.ShowNumber(gen)) << "\n";
  if (gen >= 3) std::cout << "show_number_offered: " << OnOff(s.Flags(gen) & kFlagNumberOffered) << "\n";
  std::cout << "timezone: " << int(s.TimeZone(gen)) << "\n"
            << "bright_start: " << int(s.BrightStart(gen)) << "\n"
            << "bright_end: " << int(s.BrightEnd(gen)) << "\n";
  if (gen >= 3) {
    const auto raw = s.RawBandCounts();
    std::cout << "band_counts: X=" << int(raw[0]) << " Ku=" << int(raw[1]) << " K=" << int(raw[2])
              << " Ka=" << int(raw[3]) << " laser=" << int(raw[4]) << "\n"
              << "option_level: " << int(s.OptionLevel()) << "\n"
              << "radar_link: " << int(s.RadarLink()) << "\n";
    char marker[16];
    std::snprintf(marker, sizeof marker, "0x%08X", s.Marker());
    std::cout << "marker: " << marker << "\n";
  }
  const auto bands = DescribeBands(s, gen);
  for (size_t i = 0; i < bands.size(); ++i) {
    const BandInfo& b = bands[i];
    std::cout << "band." << b.key << ": " << OnOff(b.enabled) << "  " << b.label
              << (b.rangeShown ? FormatBandRange(b.range) : "");
    // Generation 3 stores its ranges: show them even when the label leaves them out.
    if (gen >= 3) std::cout << "  range=" << b.range.lowMHz << "~" << b.range.highMHz << "MHz";
    std::cout << "\n";
  }
}

}  // namespace

int CmdConfig(CliContext& ctx, const Args& args) {
  if (args.empty()) return UsageError("config needs show or set");
  const std::string sub = args[0];
  if (sub == "show") {
    if (args.size() != 1) return UsageError("config show takes no arguments");
    DeviceRecords records;
    int rc = kExitOk;
    CHidCmd* link = OpenAndRead(ctx, records, rc);
    if (!link) return rc;
    if (records.m_nSettingsGen <= 0) {
      std::cout << "generation: " << records.m_nSettingsGen << "\n";
      return Failure(kTextNotInitialised);
    }
    PrintSettings(records);
    return kExitOk;
  }
  if (sub != "set") return UsageError("config needs show or set");

  bool yes = false;
  std::vector<std::pair<std::string, std::string>> changes;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--yes") {
      yes = true;
      continue;
    }
    const size_t eq = args[i].find('=');
    if (eq == std::string::npos || eq == 0) return UsageError("config set needs NAME=VALUE, got " + args[i]);
    changes.emplace_back(Lower(args[i].substr(0, eq)), args[i].substr(eq + 1));
  }
  if (changes.empty()) return UsageError("config set needs at least one NAME=VALUE");

  DeviceRecords records;
  int rc = kExitOk;
  CHidCmd* link = OpenAndRead(ctx, records, rc);
  if (!link) return rc;
  if (const std::string refusal = CheckConfigAllowed(link->IsOpen(), records); !refusal.empty())
    return Failure(refusal);
  if (NeedsDefaultsQuestion(records) && !yes)
    return Failure(std::string(kTextDefaultsQuestion) + " (confirm with --yes)");

  const int gen = records.m_nSettingsGen;
  DeviceSettings w = records.m_Settings;
  const SettingsOffer offer = OfferedSettings(records, w);
  const auto bands = DescribeBands(w, gen);
  for (const auto& [name, value] : changes) {
    const std::string what = name + "=" + value;
    if (name == "timezone" || name == "bright_start" || name == "bright_end") {
      const bool offered = name == "timezone" ? offer.timeZone
                           : name == "bright_start" ? offer.brightStart
                                                    : offer.brightEnd;
      if (!offered) return Failure(name + ": this device has no such setting");
      int v = 0;
      const std::string error = !ParseInt(value, v)      ? std::string("a whole number is needed")
                                : name == "timezone"     ? CheckTimeZone(v)
                                : name == "bright_start" ? CheckBrightStart(v)
                                                         : CheckBrightEnd(v);
      if (!error.empty()) return UsageError(error + " (" + what + ")");
      if (name == "timezone") w.SetTimeZone(gen, int8_t(v));
      else if (name == "bright_start") w.SetBrightStart(gen, int8_t(v));
      else w.SetBrightEnd(gen, int8_t(v));
    } else if (name == "clock12" || name == "show_number") {
      bool on = false;
      if (!ParseSwitch(value, on)) return UsageError(name + " must be on or off");
      if (name == "show_number") {
        if (!offer.showNumber) return Failure("show_number: this device does not offer it");
        w.SetShowNumber(gen, on);
      } else {
        w.SetClock12(gen, on);
      }
    } else if (name.rfind("band.", 0) == 0) {
      bool on = false;
      if (!ParseSwitch(value, on)) return UsageError(name + " must be on or off");
      const std::string key = name.substr(5);
      size_t index = bands.size();
      for (size_t b = 0; b < bands.size(); ++b)
        if (Lower(bands[b].key) == key) index = b;
      if (index == bands.size()) {
        uint32_t n = 0;
        if (ParseNumber(key, n) && n < bands.size()) index = n;
      }
      if (index == bands.size())
        return UsageError("no band " + name.substr(5) + " on this device (see config show)");
      w.SetBandEnabled(gen, index, on);
    } else {
      return UsageError("unknown setting " + name +
                        " (timezone, bright_start, bright_end, clock12, show_number, band.NAME)");
    }
  }

  const ConfigWriteResult result = WriteSettings(*link, records, w);
  if (!result.ok) return Failure(result.message);
  std::cout << result.message << "\n";
  return kExitOk;
}

}  // namespace orvane::cli
