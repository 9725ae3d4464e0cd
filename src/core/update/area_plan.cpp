#include "core/update/area_plan.h"

#include <algorithm>

namespace orvane {

namespace {

uint64_t RoundToSector(uint32_t length) {
  return (uint64_t(length) + kSectorSize - 1) / kSectorSize * kSectorSize;
}

// One area of the table: its start and length fields.
struct AreaRef {
  uint32_t (InfoPage::*start)() const;
  void (InfoPage::*setStart)(uint32_t);
  uint32_t (InfoPage::*length)() const;
  void (InfoPage::*setLength)(uint32_t);
};

constexpr AreaRef kArea3{&InfoPage::Area3Start, &InfoPage::SetArea3Start, &InfoPage::Area3Length,
                         &InfoPage::SetArea3Length};
constexpr AreaRef kArea2{&InfoPage::Area2Start, &InfoPage::SetArea2Start, &InfoPage::Area2Length,
                         &InfoPage::SetArea2Length};
constexpr AreaRef kArea4{&InfoPage::Area4Start, &InfoPage::SetArea4Start, &InfoPage::Area4Length,
                         &InfoPage::SetArea4Length};
constexpr AreaRef kArea5{&InfoPage::Area5Start, &InfoPage::SetArea5Start, &InfoPage::Area5Length,
                         &InfoPage::SetArea5Length};

// Reserved area at 0x19000, then the areas of sections 3, 2, 4 and 5 one after
// the other. Returns the end, which may not fit in 32 bits; the caller checks
// it against the capacity before anything is written. The reserved size is
// taken up to whole sectors: sections are written to whole pages from their
// area's start, and the reserved area is erased by sectors, so an odd size
// would put every area where no data lands.
uint64_t FreshLayout(InfoPage& page, uint32_t R, uint64_t L3, uint64_t L2, uint64_t L4, uint64_t L5) {
  const uint64_t reserved = RoundToSector(R);
  uint64_t at = kFreshLayoutStart;
  page.SetReservedStart(uint32_t(at));
  page.SetReservedLength(uint32_t(std::min<uint64_t>(reserved, 0xFFFFF000u)));
  at += reserved;
  const std::pair<AreaRef, uint64_t> areas[] = {{kArea3, L3}, {kArea2, L2}, {kArea4, L4}, {kArea5, L5}};
  for (const auto& [area, length] : areas) {
    (page.*area.setStart)(uint32_t(at));
    (page.*area.setLength)(uint32_t(length));
    at += length;
  }
  page.SetEnd(uint32_t(at));
  return at;
}

AreaTargets TableTargets(const InfoPage& page) {
  return {page.Area2Start(), page.Area3Start(), page.Area4Start(), page.Area5Start()};
}

AreaTargets FixedTargets() {
  return {kFixedSection2Address, kFixedSection3Address, kFixedSection4Address, kFixedSection5Address};
}

bool Ask(const PlanInputs& in, const char* text) { return in.questions && in.questions->AskYesNo(text); }

bool WriteBrandPage(const PlanInputs& in, uint32_t page) {
  // A brand page that was not read whole would overwrite the device's brand.
  return in.brandComplete && WriteRecordPage(in.link, in.bootVersion, page, in.brandPage);
}

bool WriteInfoPage(const PlanInputs& in, InfoPage& page) {
  page.Seal();
  return WriteRecordPage(in.link, in.bootVersion, kInfoPage, page.bytes());
}

}  // namespace

bool WriteRecordPage(CHidCmd& link, int64_t bootVersion, uint32_t page,
                     const std::array<uint8_t, 256>& bytes) {
  auto lock = link.LockExchange();
  if (!link.SendCommand(HID_CMD_WRITE_PAGES, page, 1, 0, 0, ByteSum(bytes))) return false;
  return link.PageWriteTaken(link.WritePages(1, bytes), bytes.size(), bootVersion);
}

int FitAreasInPlace(InfoPage& page, uint64_t L3, uint64_t L2, uint64_t L4, uint64_t L5, uint32_t R) {
  const std::pair<AreaRef, uint64_t> areas[] = {{kArea3, L3}, {kArea2, L2}, {kArea4, L4}, {kArea5, L5}};
  const uint64_t capacity = page.Capacity();

  bool everyPresentAreaHasData = true;
  for (const auto& [area, n] : areas)
    if ((page.*area.length)() != 0 && n == 0) everyPresentAreaHasData = false;
  if (everyPresentAreaHasData) return FreshLayout(page, R, L3, L2, L4, L5) > capacity ? -2 : 1;

  for (const auto& [area, n] : areas) {
    const uint64_t t = (page.*area.length)();
    if (t == 0 || n == 0) continue;
    const uint64_t start = (page.*area.start)();
    if (start + t == page.End()) {
      // The last area may grow or shrink into the free space after it.
      if (start + n > capacity) return -2;
      (page.*area.setLength)(uint32_t(n));
      page.SetEnd(uint32_t(start + n));
    } else if (n > t) {
      return -1;
    }
  }
  for (const auto& [area, n] : areas) {
    if (n == 0 || (page.*area.length)() != 0) continue;
    const uint64_t start = page.End();
    if (start + n > capacity) return -2;
    (page.*area.setStart)(uint32_t(start));
    (page.*area.setLength)(uint32_t(n));
    page.SetEnd(uint32_t(start + n));
  }
  return 0;
}

int PlanDeviceAreas(const PlanInputs& in, const SectionLengths& lengths, InfoPage& infoPage,
                    AreaTargets& targets) {
  const uint64_t L2 = RoundToSector(lengths.section2), L3 = RoundToSector(lengths.section3),
                 L4 = RoundToSector(lengths.section4), L5 = RoundToSector(lengths.section5);
  const uint32_t R = in.reservedSize;
  const bool tableUsed = in.directoryKind == 1 || (in.directoryKind == 0 && in.infoValid);
  const bool sectionMissing = lengths.section3 == 0 || lengths.section2 == 0 || lengths.section4 == 0;
  // Planning works on a copy, handed back only when the plan stands.
  InfoPage page = infoPage;

  if (!tableUsed) {
    // Both fixed-layout cases keep sections inside their fixed areas; section 5
    // has no area there at all.
    const bool fits = L3 <= kFixedSection3Limit && L2 <= kFixedSection2Limit &&
                      L4 <= kFixedSection4Limit && L5 == 0;
    if (in.infoValid) {
      // Table withdrawn: back to the fixed layout, brand page to 0x70, info page erased.
      if (sectionMissing && !Ask(in, kQuestionDataIncomplete)) return kPlanDeclined;
      if (!fits) return kPlanTooLarge;
      if (!WriteBrandPage(in, kBrandPageOld)) return kPlanWriteFailed;
      {
        auto lock = in.link.LockExchange();
        if (!in.link.SendCommand(HID_CMD_ERASE_SECTORS, kInfoSector, 1, 0, 0, 0) ||
            !in.link.ReadResponse(nullptr))
          return kPlanWriteFailed;
      }
    } else if (!fits) {
      return kPlanTooLarge;
    }
    page.ClearBody();
    infoPage = page;
    targets = FixedTargets();
    return kPlanOk;
  }

  if (!in.infoValid) {
    // Table created.
    if (sectionMissing && !Ask(in, kQuestionDataIncomplete)) return kPlanDeclined;
    page.ClearBody();
    page.SetMagic(kMarkerWord);
    page.SetCreatedFlag(1);
    page.SetCapacity(in.capacity);
    if (FreshLayout(page, R, L3, L2, L4, L5) > page.Capacity()) return kPlanTooLarge;
    if (!WriteBrandPage(in, kBrandPage)) return kPlanWriteFailed;
    if (!WriteInfoPage(in, page)) return kPlanWriteFailed;
    infoPage = page;
    targets = TableTargets(page);
    return kPlanOk;
  }

  // Table fitted, or laid out afresh.
  if (L5 + L4 + L2 + L3 + RoundToSector(R) + kFreshLayoutStart > in.capacity) return kPlanTooLarge;
  if (FitAreasInPlace(page, L3, L2, L4, L5, R) < 0) {
    if (!Ask(in, kQuestionRelayout)) return kPlanDeclined;
    if (FreshLayout(page, R, L3, L2, L4, L5) > page.Capacity()) return kPlanTooLarge;
  }
  if (!WriteInfoPage(in, page)) return kPlanWriteFailed;
  infoPage = page;
  targets = TableTargets(page);
  return kPlanOk;
}

}  // namespace orvane
