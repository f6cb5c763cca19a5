// Finding, opening and locking the scanner through the still-image service, and giving it
// back: the record walk, every failure exit with what it must leave behind (no library
// loaded, COM balanced, no interface or lock held), and the close.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/transport/transport.h"
#include "tests/support/driver_fixture.h"

namespace {

struct Counts {
  int loads = host::ModuleLoadCount("sti.dll");
  int unloads = host::ModuleUnloadCount("sti.dll");
  int comInits = host::ComInitCalls();
};

vscan::DeviceRecord Record(std::u16string description = u"Vestrand-Okalar Lumetra 5170C",
                           uint32_t type = 0x00010001, std::u16string name = u"\\\\.\\Usbscan0") {
  vscan::DeviceRecord r;
  r.description = std::move(description);
  r.deviceType = type;
  r.internalName = std::move(name);
  return r;
}

using ConnectionTest = DriverTest;

// What a failed search must leave: nothing loaded, COM balanced, nothing held or locked.
void ExpectSearchUndone(vscan::VirtualScanner& scanner, const Counts& before, bool libraryLoaded) {
  EXPECT_EQ(host::ModuleReferences("sti.dll"), 0);
  EXPECT_EQ(host::ModuleLoadCount("sti.dll") - before.loads, libraryLoaded ? 1 : 0);
  EXPECT_EQ(host::ComBalance(), 0);
  EXPECT_EQ(host::ComInitCalls() - before.comInits, 1);
  EXPECT_EQ(host::LiveLocalBlocks(), 0u) << "device record block not given back";
  EXPECT_FALSE(scanner.locked());
  EXPECT_EQ(scanner.openDeviceObjects(), 0);
  EXPECT_EQ(scanner.serviceObjects(), 0);
}

TEST_F(ConnectionTest, FindsLocksAndCloses) {
  Counts before;
  int32_t found = 0;
  ASSERT_EQ(FindScanner(0, 0, &found), 1);
  EXPECT_EQ(found, 1);
  EXPECT_TRUE(scanner().locked());
  EXPECT_EQ(scanner().openDeviceObjects(), 1) << "the status-only object is released at once";
  EXPECT_EQ(scanner().serviceObjects(), 1);
  EXPECT_EQ(host::ModuleReferences("sti.dll"), 1);
  EXPECT_EQ(host::ComBalance(), 1);
  EXPECT_EQ(host::LiveLocalBlocks(), 0u);

  EXPECT_EQ(GeneCloseHandle(), 1);
  EXPECT_FALSE(scanner().locked());
  EXPECT_EQ(scanner().openDeviceObjects(), 0);
  EXPECT_EQ(scanner().serviceObjects(), 0);
  EXPECT_EQ(host::ModuleUnloadCount("sti.dll") - before.unloads, 1);
  EXPECT_EQ(host::ComBalance(), 0);
  // Nothing left to close.
  EXPECT_EQ(GeneCloseHandle(), 0);
  EXPECT_EQ(host::ModuleUnloadCount("sti.dll") - before.unloads, 1);
  EXPECT_EQ(host::ComBalance(), 0);
}

TEST_F(ConnectionTest, EachOpenLoadsAndEachCloseUnloadsAfresh) {
  Counts before;
  for (int round = 0; round < 2; ++round) {
    int32_t found = 0;
    ASSERT_EQ(FindScanner(0, 0, &found), 1);
    ASSERT_EQ(GeneCloseHandle(), 1);
  }
  EXPECT_EQ(host::ModuleLoadCount("sti.dll") - before.loads, 2);
  EXPECT_EQ(host::ModuleUnloadCount("sti.dll") - before.unloads, 2);
  EXPECT_EQ(host::ComInitCalls() - before.comInits, 2);
}

TEST_F(ConnectionTest, RecordWalkPicksTheFirstQualifyingScanner) {
  vscan::DeviceRecord statusFails = Record(u"Vestrand-Okalar Lumetra 5170C", 0x00010001, u"\\\\.\\Usbscan1");
  statusFails.failStatusCreate = true;
  statusFails.failDataCreate = true;  // so that using it anyway would fail the search
  vscan::DeviceRecord usable = Record(u"Vestrand-Okalar Lumetra 5170C", 0x00010001, u"\\\\.\\Usbscan5");
  vscan::DeviceRecord second = Record(u"Vestrand-Okalar Lumetra 5170C", 0x00010001, u"\\\\.\\Usbscan6");
  second.failDataCreate = true;  // never reached
  vscan::Config config;
  config.devices = {Record(u"Vestrand-Okalar Lumetra 5170C", 0x00020001),  // a camera
                    Record(u"vestrand-okalar lumetra 5170c"),
                    Record(u"Vestrand-Okalar Lumetra 5170C", 0x00010002),  // another sub-type
                    statusFails,
                    usable,
                    second};
  Reinstall(config);
  int32_t found = 0;
  ASSERT_EQ(FindScanner(0, 0, &found), 1);
  EXPECT_EQ(found, 1);
  // Status and data object of the usable record, after the failed status object.
  EXPECT_EQ(scanner().count(vscan::Op::CreateDevice), 3u);
  EXPECT_EQ(GeneCloseHandle(), 1);
}

// Every way the search can fail, and what each must give back.
TEST_F(ConnectionTest, FailedSearchesGiveEverythingBack) {
  struct Case {
    const char* what;
    std::function<void(vscan::Config&)> configure;
    bool libraryLoads;
    uint64_t devicesCreated;
  };
  auto only = [](vscan::DeviceRecord r) { return [r](vscan::Config& c) { c.devices = {r}; }; };
  vscan::DeviceRecord statusFails = Record();
  statusFails.failStatusCreate = true;
  vscan::DeviceRecord dataFails = Record();
  dataFails.failDataCreate = true;
  vscan::DeviceRecord heldElsewhere = Record();
  heldElsewhere.lockHeldElsewhere = true;
  const Case cases[] = {
      {"no still-image library", nullptr, false, 0},
      {"no factory export", nullptr, true, 0},
      {"factory yields no service", [](vscan::Config& c) { c.factoryFails = true; }, true, 0},
      {"device list fails", [](vscan::Config& c) { c.deviceListFails = true; }, true, 0},
      {"device list without a block", [](vscan::Config& c) { c.deviceListEmptyBlock = true; }, true, 0},
      {"no devices", [](vscan::Config& c) { c.devices.clear(); }, true, 0},
      {"only a camera", only(Record(u"Vestrand-Okalar Lumetra 5170C", 0x00020001)), true, 0},
      {"description in other case", only(Record(u"Vestrand-Okalar LUMETRA 5170C")), true, 0},
      {"description with trailing text", only(Record(u"Vestrand-Okalar Lumetra 5170C ")), true, 0},
      {"description cut short", only(Record(u"Vestrand-Okalar Lumetra 5170")), true, 0},
      {"sub-type 2", only(Record(u"Vestrand-Okalar Lumetra 5170C", 0x00010002)), true, 0},
      {"status-only creation fails", only(statusFails), true, 1},
      {"data-mode creation fails", only(dataFails), true, 2},
      {"held by another process", only(heldElsewhere), true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vscan::Config config;
    if (c.configure) c.configure(config);
    Reinstall(config);
    if (std::string(c.what) == "no still-image library") vscan::Uninstall();
    if (std::string(c.what) == "no factory export") host::RegisterModule("sti.dll", {});
    Counts before;
    int32_t found = 0;
    EXPECT_EQ(FindScanner(0, 0, &found), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(scanner().count(vscan::Op::CreateDevice), c.devicesCreated);
    ExpectSearchUndone(scanner(), before, c.libraryLoads);
  }
}

TEST_F(ConnectionTest, LockFailureEndsTheSearchWithoutTryingTheNextScanner) {
  vscan::DeviceRecord held = Record();
  held.lockHeldElsewhere = true;
  vscan::Config config;
  config.devices = {held, Record(u"Vestrand-Okalar Lumetra 5170C", 0x00010001, u"\\\\.\\Usbscan1")};
  Reinstall(config);
  Counts before;
  int32_t found = 0;
  EXPECT_EQ(FindScanner(0, 0, &found), 0);
  EXPECT_EQ(scanner().count(vscan::Op::CreateDevice), 2u);
  ExpectSearchUndone(scanner(), before, true);
}

// A flag that already holds 1 must not turn a failed search into a success.
TEST_F(ConnectionTest, ResultReportsThisSearchNotTheFlag) {
  vscan::Config config;
  config.devices.clear();
  Reinstall(config);
  int32_t found = 1;
  EXPECT_EQ(FindScanner(0, 0, &found), 0);
  EXPECT_EQ(found, 1) << "the flag is only ever set, never cleared";
}

// A second search while connected starts from a clean connection: the held interfaces are
// released and the lock given up first, so the search can take it again.
TEST_F(ConnectionTest, SecondSearchWhileConnectedReplacesTheConnection) {
  Counts before;
  int32_t found = 0;
  ASSERT_EQ(FindScanner(0, 0, &found), 1);
  found = 0;
  ASSERT_EQ(FindScanner(0, 0, &found), 1);
  EXPECT_EQ(found, 1);
  EXPECT_TRUE(scanner().locked());
  EXPECT_EQ(scanner().openDeviceObjects(), 1);
  EXPECT_EQ(scanner().serviceObjects(), 1);
  EXPECT_EQ(host::ModuleReferences("sti.dll"), 1);
  EXPECT_EQ(host::ComBalance(), 1);
  EXPECT_EQ(GeneCloseHandle(), 1);
  EXPECT_EQ(host::ModuleLoadCount("sti.dll") - before.loads, 2);
}

// A failed unlock still ends the connection: the library goes and COM is undone; the
// interfaces go with them, so the scanner is not left claimed by a lost object.
TEST_F(ConnectionTest, FailedUnlockStillReleasesTheConnection) {
  checkViolations_ = false;  // the device object is released while the lock looks held
  int32_t found = 0;
  ASSERT_EQ(FindScanner(0, 0, &found), 1);
  scanner().failAt(vscan::Op::Unlock, 0);
  EXPECT_EQ(GeneCloseHandle(), 0);
  EXPECT_EQ(host::ModuleReferences("sti.dll"), 0);
  EXPECT_EQ(host::ComBalance(), 0);
  EXPECT_EQ(scanner().openDeviceObjects(), 0);
  EXPECT_EQ(scanner().serviceObjects(), 0);
  EXPECT_EQ(GeneCloseHandle(), 0);
  found = 0;
  EXPECT_EQ(FindScanner(0, 0, &found), 1) << "the process must not lock itself out";
  EXPECT_EQ(GeneCloseHandle(), 1);
}

}  // namespace

namespace {

// A service standing in front of the virtual one that hands out its device list with
// records of other sizes than the structure (as a newer service may), and with a count
// that may be smaller than the block holds. Everything else goes to the virtual service.
struct PaddedService {
  const IStillImageWVtbl* lpVtbl;
  IStillImageW* inner;
  ULONG refs;
  LPVOID innerBlock;
};

std::vector<DWORD> recordPadding;  // extra bytes after each record
DWORD reportedCount = 0xFFFFFFFF;  // the count handed out, if smaller
StiCreateInstanceProc innerFactory = nullptr;

PaddedService* Self(IStillImageW* self) { return reinterpret_cast<PaddedService*>(self); }

HRESULT PQueryInterface(IStillImageW*, REFIID, LPVOID* object) {
  *object = nullptr;
  return E_NOINTERFACE;
}
ULONG PAddRef(IStillImageW* self) { return ++Self(self)->refs; }
ULONG PRelease(IStillImageW* self) {
  PaddedService* s = Self(self);
  ULONG left = --s->refs;
  if (left == 0) {
    s->inner->lpVtbl->Release(s->inner);
    if (s->innerBlock != nullptr) LocalFree(s->innerBlock);
    delete s;
  }
  return left;
}
HRESULT PInitialize(IStillImageW*, HINSTANCE, DWORD) { return S_OK; }
HRESULT PGetDeviceInfo(IStillImageW*, LPWSTR, LPVOID* buffer) {
  *buffer = nullptr;
  return E_NOTIMPL;
}
HRESULT PCreateDevice(IStillImageW* self, LPWSTR name, DWORD mode, PSTIDEVICE* device, LPUNKNOWN outer) {
  IStillImageW* inner = Self(self)->inner;
  return inner->lpVtbl->CreateDevice(inner, name, mode, device, outer);
}
HRESULT PGetDeviceList(IStillImageW* self, DWORD type, DWORD flags, DWORD* count, LPVOID* buffer) {
  PaddedService* s = Self(self);
  DWORD n = 0;
  LPVOID block = nullptr;
  HRESULT hr = s->inner->lpVtbl->GetDeviceList(s->inner, type, flags, &n, &block);
  if (FAILED(hr)) return hr;
  s->innerBlock = block;  // its strings stay where the records point
  size_t bytes = 0;
  for (DWORD i = 0; i < n; ++i) bytes += sizeof(STI_DEVICE_INFORMATIONW) + recordPadding[i];
  auto* out = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, bytes));
  uint8_t* at = out;
  for (DWORD i = 0; i < n; ++i) {
    auto* record = reinterpret_cast<STI_DEVICE_INFORMATIONW*>(at);
    *record = static_cast<STI_DEVICE_INFORMATIONW*>(block)[i];
    record->dwSize = static_cast<DWORD>(sizeof(STI_DEVICE_INFORMATIONW) + recordPadding[i]);
    // A walker that steps by the structure's size lands in these zeros, not on a record.
    std::memset(at + sizeof(STI_DEVICE_INFORMATIONW), 0, recordPadding[i]);
    at += record->dwSize;
  }
  *count = n < reportedCount ? n : reportedCount;
  *buffer = out;
  return S_OK;
}

const IStillImageWVtbl kPaddedTable = {PQueryInterface, PAddRef, PRelease, PInitialize,
                                      PGetDeviceList, PGetDeviceInfo, PCreateDevice};

HRESULT PaddedFactory(HINSTANCE instance, DWORD version, PSTIW* stillImage, LPUNKNOWN outer) {
  IStillImageW* inner = nullptr;
  HRESULT hr = innerFactory(instance, version, &inner, outer);
  if (FAILED(hr)) return hr;
  *stillImage = reinterpret_cast<IStillImageW*>(new PaddedService{&kPaddedTable, inner, 1, nullptr});
  return S_OK;
}

class PaddedRecordsTest : public DriverTest {
 protected:
  void TearDown() override {
    DriverTest::TearDown();
    recordPadding.clear();
    reportedCount = 0xFFFFFFFF;
  }
  // Installs a scanner with these devices behind the padding service.
  void Devices(std::vector<vscan::DeviceRecord> devices) {
    vscan::Config config;
    config.devices = std::move(devices);
    Reinstall(config);
    HMODULE sti = LoadLibraryA("sti.dll");
    innerFactory = reinterpret_cast<StiCreateInstanceProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(sti, "StiCreateInstance")));
    FreeLibrary(sti);
    host::RegisterModule("sti.dll", {{"StiCreateInstance", reinterpret_cast<FARPROC>(
                                                               reinterpret_cast<void (*)()>(&PaddedFactory))}});
  }
};

TEST_F(PaddedRecordsTest, WalkAdvancesByEachRecordsOwnSize) {
  Devices({Record(u"Vestrand-Okalar Lumetra 5170C", 0x00020001), Record(u"Lumetra"), Record()});
  recordPadding = {24, 40, 8};
  int32_t found = 0;
  ASSERT_EQ(FindScanner(0, 0, &found), 1);
  EXPECT_EQ(GeneCloseHandle(), 1);
  EXPECT_EQ(host::LiveLocalBlocks(), 0u);
}

TEST_F(PaddedRecordsTest, WalkStopsAtTheCount) {
  Devices({Record(u"Lumetra"), Record()});
  recordPadding = {0, 0};
  reportedCount = 1;
  int32_t found = 0;
  EXPECT_EQ(FindScanner(0, 0, &found), 0);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(scanner().openDeviceObjects(), 0);
  EXPECT_EQ(host::LiveLocalBlocks(), 0u);
}

}  // namespace
