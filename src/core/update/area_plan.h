// Planning where sections 2 to 5 of an update go in the device's memory: the
// fixed layout of older devices, or the area table of the info page, created,
// fitted or laid out afresh, with the record pages written back when they
// change.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/device/hid_cmd.h"
#include "core/update/info_page.h"

namespace orvane {

// Questions the planning asks before it risks data on the device; only Yes
// continues. Implementations may block until a user answers.
class IUpdateQuestions {
 public:
  virtual ~IUpdateQuestions() = default;
  virtual bool AskYesNo(const std::string& text) = 0;
};

inline constexpr const char* kQuestionDataIncomplete = "数据不完整可以造成机器的数据丢失！是否继续？";
inline constexpr const char* kQuestionRelayout = "数据不完整可能造成机器的数据丢失！是否继续？";

// Fixed layout of devices without an area table.
inline constexpr uint32_t kFixedSection2Address = 0x16000;
inline constexpr uint32_t kFixedSection3Address = 0xDE000;
inline constexpr uint32_t kFixedSection4Address = 0x2DE000;
inline constexpr uint32_t kFixedSection5Address = 0xFFFFFFFF;  // no area
inline constexpr uint32_t kFixedSection2Limit = 0xC8000;
inline constexpr uint32_t kFixedSection3Limit = 0x200000;
inline constexpr uint32_t kFixedSection4Limit = 0x522000;
inline constexpr uint32_t kFreshLayoutStart = 0x19000;  // the reserved area of a fresh layout
inline constexpr uint32_t kInfoSector = 22;             // sector of the info page

enum : int {
  kPlanOk = 0,
  kPlanDeclined = 1,
  kPlanWriteFailed = -1,
  kPlanTooLarge = -2,
};

struct SectionLengths {  // unpadded lengths from the update file
  uint32_t section2 = 0, section3 = 0, section4 = 0, section5 = 0;
};

struct AreaTargets {
  uint32_t section2 = 0, section3 = 0, section4 = 0, section5 = 0;
};

struct PlanInputs {
  CHidCmd& link;
  int64_t bootVersion;                        // m_nBootVersion
  uint32_t capacity;                          // m_nCapacity
  bool infoValid;                             // m_bInfoValid
  const std::array<uint8_t, 256>& brandPage;  // m_szBrand
  bool brandComplete;                         // all of it was read from the device
  int directoryKind;                          // m_nDirectoryKind: 1 headed, -1 plain, 0 none
  uint32_t reservedSize;                      // m_nReservedSize
  IUpdateQuestions* questions;                // null answers No
};

// Decides the targets of sections 2 to 5 and writes the brand and info pages
// when the layout changes. `infoPage` (m_InfoPage) receives the planned table
// only when the result is kPlanOk; on any other result it is left as it was,
// so a failed or declined job never leaves a half-planned copy behind.
int PlanDeviceAreas(const PlanInputs& in, const SectionLengths& lengths, InfoPage& infoPage,
                    AreaTargets& targets);

// 1: laid out afresh and it fits; 0: fitted into the existing layout; -1: an
// area that is not the last one would have to grow; -2: the end would pass the
// table's capacity. Lengths are rounded to 4096.
int FitAreasInPlace(InfoPage& page, uint64_t L3, uint64_t L2, uint64_t L4, uint64_t L5, uint32_t R);

// Writes one record page (brand or info page) with its byte sum announced.
bool WriteRecordPage(CHidCmd& link, int64_t bootVersion, uint32_t page,
                     const std::array<uint8_t, 256>& bytes);

}  // namespace orvane
