// The capability report: what the scanner offers, all of it fixed in the library. It
// touches neither the device nor the driver's state, so it answers at any time.
#include <cstring>

#include "driver/interface/ld_api.h"

namespace {

const char kDeviceName[] = "Vindrel Scanner";
const char kDeviceType[] = "Scanner";
const char kVersionText[] = "USB Scanner V1.00";
const char kReleaseDate[] = "1998/12/26";

constexpr uint16_t kLowestListed = 75;
constexpr uint16_t kHighestResolution = 600;
constexpr uint16_t kResolutionStep = 25;
constexpr int kResolutionCount = (kHighestResolution - kLowestListed) / kResolutionStep + 1;  // 22

// The caller keeps the list's address and reads it later: it lives as long as the library.
uint16_t resolutionList[kResolutionCount];

// Writes the text and its terminating zero only; the rest of the caller's field stays.
template <size_t N>
void PutText(char* field, const char (&text)[N]) {
  std::memcpy(field, text, N);
}

}  // namespace

LD_EXPORT int32_t LDAPI LD_GetScannerAbility(ScannerAbility* record) {
  if (record == nullptr) return 0;
  uint16_t count = 0;
  for (uint16_t r = kLowestListed; r <= kHighestResolution; r = static_cast<uint16_t>(r + kResolutionStep)) {
    resolutionList[count++] = r;
  }
  record->headerCode = 3;
  PutText(record->deviceName, kDeviceName);
  PutText(record->deviceType, kDeviceType);
  PutText(record->versionText, kVersionText);
  PutText(record->releaseDate, kReleaseDate);
  record->featureMask = 7;
  record->maxResolution = kHighestResolution;
  record->resolutionCount = count;
  record->resolutionList = resolutionList;
  record->maxWidth = 2550;
  record->widthAux = 10;
  record->maxLength = 3510;
  record->lengthAux = 20;
  record->trailingValue = 0;
  return 1;
}
