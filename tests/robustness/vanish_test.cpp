// The scanner vanishing in the middle of a scan (unplugged, or its driver gone): from the
// chosen device operation of the set-up and read on, every escape and transfer fails. Every
// later call must fail with a status instead of reporting success or waiting, and the close
// must still give back everything.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/transport/transport.h"
#include "tests/robustness/sweep_support.h"

namespace {

// A device object that stands between the driver and the scanner's and makes the scanner
// vanish at the n-th operation (escape, raw read or write, lock or unlock), before it is made.
struct VanishingDevice {
  IStiDevice base;  // what the driver holds
  IStiDevice* real = nullptr;
  vscan::VirtualScanner* scanner = nullptr;
  uint64_t operations = 0;
  uint64_t vanishAt = UINT64_MAX;
  uint64_t afterVanish = 0;  // operations attempted on the vanished device
};

VanishingDevice* Self(IStiDevice* self) { return reinterpret_cast<VanishingDevice*>(self); }

IStiDevice* Count(IStiDevice* self) {
  VanishingDevice* d = Self(self);
  if (d->operations++ == d->vanishAt) d->scanner->vanish();
  if (d->operations > d->vanishAt) ++d->afterVanish;
  return d->real;
}

HRESULT STDMETHODCALLTYPE QueryInterface(IStiDevice* self, REFIID riid, LPVOID* object) {
  return Self(self)->real->lpVtbl->QueryInterface(Self(self)->real, riid, object);
}
ULONG STDMETHODCALLTYPE AddRef(IStiDevice* self) { return Self(self)->real->lpVtbl->AddRef(Self(self)->real); }
ULONG STDMETHODCALLTYPE Release(IStiDevice* self) { return Self(self)->real->lpVtbl->Release(Self(self)->real); }
HRESULT STDMETHODCALLTYPE Initialize(IStiDevice* self, HINSTANCE instance, LPCWSTR name, DWORD version, DWORD mode) {
  return Self(self)->real->lpVtbl->Initialize(Self(self)->real, instance, name, version, mode);
}
HRESULT STDMETHODCALLTYPE GetCapabilities(IStiDevice* self, void* caps) {
  return Self(self)->real->lpVtbl->GetCapabilities(Self(self)->real, caps);
}
HRESULT STDMETHODCALLTYPE GetStatus(IStiDevice* self, void* status) {
  return Self(self)->real->lpVtbl->GetStatus(Self(self)->real, status);
}
HRESULT STDMETHODCALLTYPE DeviceReset(IStiDevice* self) { return Self(self)->real->lpVtbl->DeviceReset(Self(self)->real); }
HRESULT STDMETHODCALLTYPE Diagnostic(IStiDevice* self, void* buffer) {
  return Self(self)->real->lpVtbl->Diagnostic(Self(self)->real, buffer);
}
HRESULT STDMETHODCALLTYPE Escape(IStiDevice* self, STI_RAW_CONTROL_CODE code, LPVOID inData, DWORD inSize,
                                 LPVOID outData, DWORD outSize, LPDWORD actualOut) {
  IStiDevice* real = Count(self);
  return real->lpVtbl->Escape(real, code, inData, inSize, outData, outSize, actualOut);
}
HRESULT STDMETHODCALLTYPE GetLastError(IStiDevice* self, LPDWORD lastError) {
  return Self(self)->real->lpVtbl->GetLastError(Self(self)->real, lastError);
}
HRESULT STDMETHODCALLTYPE LockDevice(IStiDevice* self, DWORD timeoutMs) {
  IStiDevice* real = Count(self);
  return real->lpVtbl->LockDevice(real, timeoutMs);
}
HRESULT STDMETHODCALLTYPE UnLockDevice(IStiDevice* self) {
  IStiDevice* real = Count(self);
  return real->lpVtbl->UnLockDevice(real);
}
HRESULT STDMETHODCALLTYPE RawReadData(IStiDevice* self, LPVOID buffer, LPDWORD bytes, LPOVERLAPPED overlapped) {
  IStiDevice* real = Count(self);
  return real->lpVtbl->RawReadData(real, buffer, bytes, overlapped);
}
HRESULT STDMETHODCALLTYPE RawWriteData(IStiDevice* self, LPVOID buffer, DWORD bytes, LPOVERLAPPED overlapped) {
  IStiDevice* real = Count(self);
  return real->lpVtbl->RawWriteData(real, buffer, bytes, overlapped);
}
HRESULT STDMETHODCALLTYPE RawReadCommand(IStiDevice* self, LPVOID buffer, LPDWORD bytes, LPOVERLAPPED overlapped) {
  IStiDevice* real = Count(self);
  return real->lpVtbl->RawReadCommand(real, buffer, bytes, overlapped);
}
HRESULT STDMETHODCALLTYPE RawWriteCommand(IStiDevice* self, LPVOID buffer, DWORD bytes, LPOVERLAPPED overlapped) {
  IStiDevice* real = Count(self);
  return real->lpVtbl->RawWriteCommand(real, buffer, bytes, overlapped);
}

const IStiDeviceVtbl kVanishingVtbl = {QueryInterface, AddRef,       Release,      Initialize,   GetCapabilities,
                                       GetStatus,      DeviceReset,  Diagnostic,   Escape,       GetLastError,
                                       LockDevice,     UnLockDevice, RawReadData,  RawWriteData, RawReadCommand,
                                       RawWriteCommand};

// The only wait in the library is the ready wait, at most 30000 ms. The stand-in clock moves
// 1 ms at every reading; the calls of one run read it a few dozen times at most (two readings
// a ready wait that ends at once, some ten ready waits), so 200 ms more than one full wait
// is a bound that any second full wait, or a wait on a device that is gone, would break.
constexpr uint32_t kReadyWaitMs = 30000;
constexpr uint32_t kClockMarginMs = 200;
// A poll loop on the gone device would make tens of thousands of requests (six per poll);
// the calls after the vanish make a few thousand at most when every request fails.
constexpr uint64_t kMostRequestsAfterVanish = 10000;

constexpr uint32_t kLines = 42;
constexpr uint32_t kLineBytes = 3 * 500;

class VanishTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    checkViolations_ = false;  // a gone device's refusals are recorded as the scanner sees them
  }

  void OpenCalibrated() {
    ASSERT_EQ(LD_OpenScanner(), 1);
    ASSERT_EQ(LD_LampOn(), 1);
    if (!haveCalibration_) {
      ASSERT_EQ(LD_DeviceInit(), 1);
      calibration_ = {calibrationPositions, afeLevels};
      haveCalibration_ = true;
    }
    sweep::Restore(calibration_);
  }

  // Puts the vanishing device between the driver and the scanner.
  void Interpose(uint64_t vanishAt) {
    device_ = VanishingDevice{};
    device_.base.lpVtbl = &kVanishingVtbl;
    device_.real = deviceConnection.scannerDevice;
    device_.scanner = &scanner();
    device_.vanishAt = vanishAt;
    deviceConnection.scannerDevice = &device_.base;
  }

  // The scan under test: set up, then the whole window in three reads. Returns the results.
  std::vector<int32_t> SetUpAndRead(std::vector<int32_t>* statuses) {
    const ScanRequest r = sweep::Request(kModeColour, 300, kLineBytes, kLines * 300 / 300);
    std::vector<int32_t> results;
    results.push_back(LD_SetScanParameter(&r));
    statuses->push_back(ReadStatus());
    for (uint32_t n : {kLines / 3, kLines / 3, kLines - 2 * (kLines / 3)}) {
      results.push_back(LD_ReadScan(image_.data(), n));
      statuses->push_back(ReadStatus());
    }
    return results;
  }

  VanishingDevice device_;
  std::vector<uint8_t> image_ = std::vector<uint8_t>(kLines * kLineBytes);
  static sweep::Calibration calibration_;
  static bool haveCalibration_;
};

sweep::Calibration VanishTest::calibration_{};
bool VanishTest::haveCalibration_ = false;

TEST_F(VanishTest, EveryLaterCallFailsAndTheCloseReleasesEverything) {
  // Clean run: the operations of the set-up and of each read.
  OpenCalibrated();
  Interpose(UINT64_MAX);
  std::vector<int32_t> statuses;
  ASSERT_EQ(SetUpAndRead(&statuses), (std::vector<int32_t>{1, 1, 1, 1}));
  const uint64_t total = device_.operations;
  ASSERT_EQ(LD_ResetScanner(0), 1);
  ASSERT_EQ(LD_CloseScanner(), 1);

  // Every operation index, or an odd stride prime to 3 and 5 (so that over the run it lands on
  // every request position of the register operations) plus the last operation.
  std::vector<uint64_t> points;
  const uint64_t stride = sweep::FullSweep() ? 1 : 7;
  for (uint64_t n = 0; n < total; n += stride) points.push_back(n);
  if (points.back() != total - 1) points.push_back(total - 1);

  uint32_t longestWait = 0;
  for (uint64_t n : points) {
    SCOPED_TRACE("vanishing at operation " + std::to_string(n) + " of " + std::to_string(total));
    Reinstall(vscan::Config{});  // the scanner is back, as after plugging it in again
    OpenCalibrated();
    if (HasFatalFailure()) return;
    Interpose(n);
    const DWORD clockBefore = host::PeekTickCount();

    statuses.clear();
    const std::vector<int32_t> results = SetUpAndRead(&statuses);
    // Whichever call met the vanish fails with a transfer failure, and so does every later
    // read of a scan that was set up; a scan that could not be set up is refused (status 0).
    size_t failedAt = 0;
    while (failedAt < results.size() && results[failedAt] == 1) ++failedAt;
    ASSERT_LT(failedAt, results.size()) << "the vanish went unnoticed";
    EXPECT_EQ(statuses[failedAt], kStatusTransferFailed) << "call " << failedAt;
    for (size_t i = failedAt + 1; i < results.size(); ++i) {
      EXPECT_EQ(results[i], 0) << "call " << i;
      EXPECT_EQ(statuses[i], failedAt == 0 ? kStatusNoError : kStatusTransferFailed) << "call " << i;
    }

    // Every other call that needs the device fails too, without waiting.
    const ScanRequest again = sweep::Request(kModeGrey, 300, 100, 10);
    EXPECT_EQ(LD_SetScanParameter(&again), 0);
    EXPECT_EQ(ReadStatus(), kStatusTransferFailed);
    EXPECT_EQ(LD_DeviceInit(), 0);
    EXPECT_EQ(ReadStatus(), kStatusTransferFailed);
    EXPECT_EQ(LD_LampOn(), 0);
    EXPECT_EQ(ReadStatus(), kStatusTransferFailed);
    int32_t lamp = -7;
    EXPECT_EQ(LD_GetLampStatus(&lamp), 0);
    EXPECT_EQ(ReadStatus(), kStatusTransferFailed);
    EXPECT_EQ(lamp, -7);
    EXPECT_EQ(LD_DiagnosticTest(), 0);

    // Reset and close give back what the scan held even though the chip no longer hears the
    // stop pattern; the close releases the connection whatever the unlock says.
    EXPECT_EQ(LD_ResetScanner(0), 1);
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
    EXPECT_EQ(LD_CloseScanner(), 1);
    EXPECT_EQ(deviceOpen, 0);
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u) << "memory blocks left live";
    EXPECT_EQ(host::ModuleReferences("sti.dll"), 0) << "still-image library left loaded";
    EXPECT_EQ(host::ComBalance(), 0) << "COM initialisation not balanced";
    EXPECT_EQ(scanner().openDeviceObjects(), 0) << "device objects left alive";

    const uint32_t waited = static_cast<uint32_t>(host::PeekTickCount() - clockBefore);
    longestWait = waited > longestWait ? waited : longestWait;
    EXPECT_LE(waited, kReadyWaitMs + kClockMarginMs) << "waited on a device that is gone";
    EXPECT_LE(device_.afterVanish, kMostRequestsAfterVanish) << "kept asking a device that is gone";

    // Opening the gone scanner again fails as an open does, and takes nothing.
    EXPECT_EQ(LD_OpenScanner(), 0);
    EXPECT_EQ(ReadStatus(), kStatusNotOpen);
    EXPECT_EQ(host::ModuleReferences("sti.dll"), 0);
    EXPECT_EQ(host::ComBalance(), 0);
    if (HasFailure()) return;  // one broken point is enough to read
  }

  // A full road on the scanner once it is back.
  Reinstall(vscan::Config{});
  OpenCalibrated();
  ASSERT_EQ(LD_DeviceInit(), 1);
  statuses.clear();
  EXPECT_EQ(SetUpAndRead(&statuses), (std::vector<int32_t>{1, 1, 1, 1}));
  EXPECT_EQ(LD_CloseScanner(), 1);
  std::printf("\nVanishing device: %zu of %llu operation indices of a colour set-up and read swept%s; "
              "longest virtual wait %u ms\n",
              points.size(), static_cast<unsigned long long>(total),
              sweep::FullSweep() ? "" : " (every 7th and the last; LUMETRA_FULL_SWEEP=1 for all)", longestWait);
}

// A scanner gone while the device is closed: the open, and the lamp calls that open it for
// themselves, fail as a failed open, and leave nothing loaded.
TEST_F(VanishTest, GoneBeforeTheOpen) {
  scanner().vanish();
  int32_t lamp = -7;
  struct Case {
    const char* call;
    int32_t result;
  };
  const Case cases[] = {{"open", LD_OpenScanner()},
                        {"lamp on", LD_LampOn()},
                        {"lamp off", LD_LampOff()},
                        {"lamp status", LD_GetLampStatus(&lamp)}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, 0) << c.call;
  }
  EXPECT_EQ(ReadStatus(), kStatusNotOpen);
  EXPECT_EQ(lamp, -7);
  EXPECT_EQ(deviceOpen, 0);
}

}  // namespace
