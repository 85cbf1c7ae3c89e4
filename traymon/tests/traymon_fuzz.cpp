// Arbitrary command lines, interface names and device records for the tray monitor's rules,
// and arbitrary user names and serial numbers for the usage record: never a crash, and every
// record's line decodes back to it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "key_scan.h"
#include "monitor_rules.h"
#include "text_encoding.h"
#include "usage_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string wide(size / 2, u'\0');
  std::memcpy(wide.data(), data, wide.size() * 2);
  koba::traymon::ParseCommandWords(wide);
  koba::traymon::IsKeyInterface(wide);
  koba::traymon::FitText(wide, size % 300);

  std::vector<uint8_t> record(600, 0);
  std::memcpy(record.data(), data, std::min(size, record.size()));
  koba::traymon::ReadDeviceFields(record.data());

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const size_t cut = size / 3;
  const std::string rec = koba::traymon::FormatUsageRecord(
      {2024, 1, 2, 3, 4, 5, 6}, bytes.substr(0, cut), bytes.substr(cut),
      size % 2 ? koba::traymon::UsageEvent::kInsert : koba::traymon::UsageEvent::kRemove);
  if (rec.size() > koba::traymon::kMaxUsageRecordBytes)
    std::abort();
  const std::string line = koba::traymon::UsageLine(rec);
  std::string back;
  if (!koba::text::Base64Decode(line.substr(0, line.size() - 2), &back) || back != rec)
    std::abort();
  return 0;
}
