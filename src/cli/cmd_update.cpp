// info and update: the connect sequence and the update job from a terminal,
// from a local file or online (version file, archive, unpacking).
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "cli/job_runner.h"
#include "cli/net_check.h"
#include "core/update/archive_source.h"
#include "core/update/info_page.h"
#include "core/update/update_file.h"
#include "core/update/update_job.h"

namespace orvane::cli {

int CmdInfo(CliContext& ctx, const Args& args) {
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json")
      json = true;
    else
      return UsageError("info takes only --json");
  }
  CDeviceSession* s = ctx.Connect();
  if (!s) return kExitFailure;

  nlohmann::ordered_json j;
  j["boot_version"] = s->m_nBootVersion;
  j["capacity"] = s->m_nCapacity;
  j["brand"] = BrandText(*s);
  j["settings_generation"] = s->m_nSettingsGen;
  j["settings_format"] = s->m_nSettingsFormat;
  j["model"] = KeyText(DeviceKey(*s));
  j["info_valid"] = s->m_bInfoValid;
  j["device_version"] = s->m_nDeviceVersion;
  if (s->m_bInfoValid) {
    const InfoPage info(s->m_InfoPage);
    j["table_capacity"] = info.Capacity();
    j["reserved_start"] = info.ReservedStart();
    j["reserved_length"] = info.ReservedLength();
    j["area3_start"] = info.Area3Start();
    j["area3_length"] = info.Area3Length();
    j["area2_start"] = info.Area2Start();
    j["area2_length"] = info.Area2Length();
    j["area4_start"] = info.Area4Start();
    j["area4_length"] = info.Area4Length();
    j["area5_start"] = info.Area5Start();
    j["area5_length"] = info.Area5Length();
    j["end"] = info.End();
  }
  if (json) {
    std::cout << j.dump(2) << "\n";
    return kExitOk;
  }
  for (const auto& [key, value] : j.items()) {
    if (value.is_string())
      std::cout << key << ": " << value.get<std::string>() << "\n";
    else if (key.find("_start") != std::string::npos || key.find("_length") != std::string::npos ||
             key == "end" || key == "table_capacity") {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%X", value.get<uint32_t>());
      std::cout << key << ": " << hex << "\n";
    } else {
      std::cout << key << ": " << value.dump() << "\n";
    }
  }
  return kExitOk;
}

int CmdUpdate(CliContext& ctx, const Args& args) {
  bool yes = false, online = false;
  Args rest;
  for (const std::string& a : args) {
    if (a == "--yes" || a == "-y")
      yes = true;
    else if (a == "--online")
      online = true;
    else if (a.size() > 1 && a[0] == '-' && a[1] != '-')
      return UsageError("unknown option " + a);
    else
      rest.push_back(a);
  }
  NetOptions net;
  if (std::string e = ParseNetOptions(rest, false, net); !e.empty()) return UsageError(e);
  if (online && !net.positional.empty()) return UsageError("update --online takes no FILE");
  if (!online && net.versionUrl) return UsageError("--version-url goes with --online");
  if (!online && net.positional.empty()) return UsageError("update needs a FILE or --online");
  if (net.positional.size() > 1) return UsageError("update takes one FILE");
  CDeviceSession* s = ctx.Connect();
  if (!s) return kExitFailure;
  std::cout << "device_version: " << s->m_nDeviceVersion << "\n";

  ProgressLine downloadLine(true);
  CheckResult check;
  if (online) {
    if (int rc = RunCheck(ctx, net, check); rc != kExitOk) return rc;
  }
  TerminalJobOptions options;
  options.assumeYes = yes;
  const JobResult result = RunTerminalJob(
      *s,
      [&](CUpdateJob& job, IUpdateJobObserver& observer) {
        if (!online) {
          job.m_strLocalFile = net.positional[0];
          return true;
        }
        return ConfigureOnlineJob(job, observer, check, s->m_nDeviceVersion, downloadLine);
      },
      options);
  if (result.outcome != JobOutcome::Success) return kExitFailure;
  // Read the device again, as the window does after an update.
  if (s->RunConnectSequence()) std::cout << "device_version: " << s->m_nDeviceVersion << "\n";
  return kExitOk;
}

}  // namespace orvane::cli
