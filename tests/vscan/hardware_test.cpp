// The virtual scanner's hardware layers, driven directly through the still-image COM
// interfaces (not through the driver): the device list, device creation and the lock, escape
// decoding, the bridge's bulk announcements, the chip's register protocol, variant and ready
// answers, the bulk port RAM and the correction table, and injected faults.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "vscan/scanner.h"
#include "vscan/vscan.h"

namespace {

constexpr DWORD kRead = 0x8000200C;
constexpr DWORD kWrite = 0x80002010;

struct Block {
  uint32_t request;
  uint32_t length;
  uint8_t* data;
  uint32_t reserved;
};

std::u16string Wide(const WCHAR* s) {
  std::u16string out;
  while (s != nullptr && *s != 0) out.push_back(static_cast<char16_t>(*s++));
  return out;
}

class Hardware : public ::testing::Test {
 protected:
  void TearDown() override { Close(); }

  void Start(const vscan::Config& config = vscan::Config{}) {
    scanner_ = std::make_unique<vscan::VirtualScanner>(config);
    vscan::Install(scanner_.get());
    module_ = LoadLibraryA("sti.dll");
    ASSERT_NE(module_, nullptr);
    factory_ = reinterpret_cast<StiCreateInstanceProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "StiCreateInstance")));
    ASSERT_NE(factory_, nullptr);
  }

  IStillImageW* Service() {
    if (service_ == nullptr) {
      EXPECT_EQ(factory_(GetModuleHandleA(nullptr), 2, &service_, nullptr), S_OK);
    }
    return service_;
  }

  HRESULT Create(const char16_t* name, DWORD mode, IStiDevice** out) {
    std::u16string n(name);
    std::vector<WCHAR> buffer(n.begin(), n.end());
    buffer.push_back(0);
    return Service()->lpVtbl->CreateDevice(Service(), buffer.data(), mode, out, nullptr);
  }

  // A data-mode device, locked, with the chip woken: ready for register traffic.
  void Open(bool wake = true) {
    ASSERT_EQ(Create(u"\\\\.\\Usbscan0", 2, &device_), S_OK);
    ASSERT_EQ(device_->lpVtbl->LockDevice(device_, 200), S_OK);
    if (wake) Wake();
  }

  void Close() {
    if (device_ != nullptr) {
      device_->lpVtbl->UnLockDevice(device_);
      device_->lpVtbl->Release(device_);
      device_ = nullptr;
    }
    if (service_ != nullptr) {
      service_->lpVtbl->Release(service_);
      service_ = nullptr;
    }
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
    vscan::Uninstall();
    scanner_.reset();
  }

  HRESULT Escape(DWORD code, uint32_t request, uint32_t length, uint8_t* data) {
    Block block{request, length, data, 0};
    DWORD returned = 0;
    return device_->lpVtbl->Escape(device_, code, &block, sizeof(Block), data, length, &returned);
  }
  HRESULT Put(uint8_t request, uint8_t value) { return Escape(kWrite, request, 1, &value); }
  int Get(uint8_t request) {
    uint8_t value = 0;
    return SUCCEEDED(Escape(kRead, request, 1, &value)) ? value : -1;
  }

  void Wake() {
    for (uint8_t v : {0xA0, 0xA8, 0x50, 0x58, 0x90, 0x98, 0xC0, 0xC8, 0x90, 0x98, 0xE0, 0xE8}) Put(0x88, v);
    Put(0x88, 0x00);
    for (uint8_t v : {0x14, 0x15, 0x1D, 0x15, 0x14}) Put(0x87, v);
    Put(0x88, 0x04);
    for (uint8_t v : {0x14, 0x15, 0x17, 0x15, 0x14}) Put(0x87, v);
  }

  void Select(uint8_t r) {
    Put(0x87, 0x14);
    Put(0x83, r);
  }
  void WriteReg(uint8_t r, uint8_t v) {
    Select(r);
    Put(0x87, 0x14);
    Put(0x85, v);
  }
  int ReadReg(uint8_t r) {
    Select(r);
    Put(0x87, 0x14);
    Put(0x87, 0x34);
    int v = Get(0x84);
    Put(0x87, 0x14);
    return v;
  }

  HRESULT Setup(uint8_t direction, uint8_t kind, uint16_t a, uint16_t b) {
    uint8_t packet[8] = {direction, kind, 0, 0, static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8),
                         static_cast<uint8_t>(b), static_cast<uint8_t>(b >> 8)};
    return Escape(kWrite, 0x82, 8, packet);
  }
  HRESULT Setup32(uint8_t direction, uint8_t kind, uint32_t size) {
    return Setup(direction, kind, static_cast<uint16_t>(size), static_cast<uint16_t>(size >> 16));
  }
  HRESULT RawRead(uint8_t* buffer, DWORD* bytes) {
    OVERLAPPED overlapped{};
    return device_->lpVtbl->RawReadData(device_, buffer, bytes, &overlapped);
  }
  HRESULT RawWrite(const uint8_t* buffer, DWORD bytes) {
    OVERLAPPED overlapped{};
    return device_->lpVtbl->RawWriteData(device_, const_cast<uint8_t*>(buffer), bytes, &overlapped);
  }
  // A plain bulk write or read through register 36 with chip RAM access on.
  void RamWrite(const std::vector<uint8_t>& bytes) {
    WriteReg(2, 0xA4);
    Select(36);
    ASSERT_EQ(Setup32(1, 0, static_cast<uint32_t>(bytes.size())), S_OK);
    ASSERT_EQ(RawWrite(bytes.data(), static_cast<DWORD>(bytes.size())), S_OK);
    WriteReg(2, 0xA0);
  }
  std::vector<uint8_t> RamRead(uint32_t n) {
    std::vector<uint8_t> out(n, 0xEE);
    WriteReg(2, 0xA4);
    Select(36);
    EXPECT_EQ(Setup32(0, 0, n), S_OK);
    DWORD bytes = n;
    EXPECT_EQ(RawRead(out.data(), &bytes), S_OK);
    WriteReg(2, 0xA0);
    return out;
  }

  const std::vector<std::string>& Violations() { return scanner_->violations(); }
  bool Violated(const std::string& part) {
    for (const auto& v : Violations()) {
      if (v.find(part) != std::string::npos) return true;
    }
    return false;
  }

  std::unique_ptr<vscan::VirtualScanner> scanner_;
  HMODULE module_ = nullptr;
  StiCreateInstanceProc factory_ = nullptr;
  IStillImageW* service_ = nullptr;
  IStiDevice* device_ = nullptr;
};

// --- service: the device list, creation, the lock ---------------------------------------

TEST_F(Hardware, DeviceListLaysOutEveryRecordWithItsStringsInTheBlock) {
  vscan::Config config;
  vscan::DeviceRecord camera;
  camera.deviceType = 0x00020001;
  camera.internalName = u"\\\\.\\Usbscan7";
  camera.description = u"Some Camera";
  vscan::DeviceRecord wrongSub;
  wrongSub.deviceType = 0x00010003;
  config.devices = {camera, wrongSub, vscan::DeviceRecord{}};
  Start(config);
  size_t localBefore = host::LiveLocalBlocks();

  DWORD count = 0;
  LPVOID buffer = nullptr;
  ASSERT_EQ(Service()->lpVtbl->GetDeviceList(Service(), 0, 0, &count, &buffer), S_OK);
  ASSERT_EQ(count, 3u);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(host::LiveLocalBlocks(), localBefore + 1);

  const uint8_t* at = static_cast<const uint8_t*>(buffer);
  const uint8_t* stringsStart = at + 3 * sizeof(STI_DEVICE_INFORMATIONW);
  const DWORD types[] = {0x00020001, 0x00010003, 0x00010001};
  const char16_t* names[] = {u"\\\\.\\Usbscan7", u"\\\\.\\Usbscan0", u"\\\\.\\Usbscan0"};
  const char16_t* descriptions[] = {u"Some Camera", u"Vestrand-Okalar Lumetra 5170C", u"Vestrand-Okalar Lumetra 5170C"};
  for (int i = 0; i < 3; i++) {
    auto* info = reinterpret_cast<const STI_DEVICE_INFORMATIONW*>(at);
    ASSERT_EQ(info->dwSize, sizeof(STI_DEVICE_INFORMATIONW));
    EXPECT_EQ(info->DeviceType, types[i]);
    EXPECT_EQ(Wide(info->szDeviceInternalName), names[i]);
    EXPECT_EQ(Wide(info->pszDeviceDescription), descriptions[i]);
    auto* text = reinterpret_cast<const uint8_t*>(info->pszDeviceDescription);
    EXPECT_GE(text, stringsStart) << "strings follow the records";
    at += info->dwSize;
  }
  LocalFree(buffer);
  EXPECT_EQ(host::LiveLocalBlocks(), localBefore);
}

TEST_F(Hardware, ServiceFailuresAsConfigured) {
  {
    vscan::Config c;
    c.factoryFails = true;
    Start(c);
    IStillImageW* service = reinterpret_cast<IStillImageW*>(1);
    EXPECT_TRUE(FAILED(factory_(nullptr, 2, &service, nullptr)));
    EXPECT_EQ(service, nullptr);
    Close();
  }
  struct Case {
    bool fails, emptyBlock, noDevices;
    HRESULT ok;
    DWORD count;
    bool block;
  } cases[] = {
      {true, false, false, E_FAIL, 0, false},
      {false, true, false, S_OK, 1, false},  // a count but no block
      {false, false, true, S_OK, 0, true},
  };
  for (const Case& k : cases) {
    vscan::Config c;
    c.deviceListFails = k.fails;
    c.deviceListEmptyBlock = k.emptyBlock;
    if (k.noDevices) c.devices.clear();
    Start(c);
    DWORD count = 99;
    LPVOID buffer = nullptr;
    HRESULT hr = Service()->lpVtbl->GetDeviceList(Service(), 0, 0, &count, &buffer);
    EXPECT_EQ(SUCCEEDED(hr), SUCCEEDED(k.ok));
    EXPECT_EQ(count, k.count);
    EXPECT_EQ(buffer != nullptr, k.block);
    if (buffer != nullptr) LocalFree(buffer);
    EXPECT_EQ(scanner_->serviceObjects(), 1);
    Close();
  }
}

TEST_F(Hardware, CreateDeviceFailsPerRecordAndModeAndCountsReleases) {
  vscan::Config config;
  vscan::DeviceRecord statusFails;
  statusFails.internalName = u"A";
  statusFails.failStatusCreate = true;
  vscan::DeviceRecord dataFails;
  dataFails.internalName = u"B";
  dataFails.failDataCreate = true;
  config.devices = {statusFails, dataFails};
  Start(config);

  struct Case {
    const char16_t* name;
    DWORD mode;
    bool ok;
  } cases[] = {{u"A", 1, false}, {u"A", 2, true}, {u"B", 1, true}, {u"B", 2, false}, {u"C", 1, false}};
  std::vector<IStiDevice*> made;
  for (const Case& k : cases) {
    IStiDevice* d = nullptr;
    HRESULT hr = Create(k.name, k.mode, &d);
    EXPECT_EQ(SUCCEEDED(hr), k.ok) << std::string(k.name, k.name + 1) << " mode " << k.mode;
    EXPECT_EQ(d != nullptr, k.ok);
    if (d != nullptr) made.push_back(d);
  }
  EXPECT_EQ(scanner_->openDeviceObjects(), 2);
  made[0]->lpVtbl->AddRef(made[0]);
  EXPECT_EQ(made[0]->lpVtbl->Release(made[0]), 1u);
  for (IStiDevice* d : made) EXPECT_EQ(d->lpVtbl->Release(d), 0u);
  EXPECT_EQ(scanner_->openDeviceObjects(), 0);
  EXPECT_TRUE(Violations().empty());
}

TEST_F(Hardware, LockIsExclusiveAndCanBeHeldByAnotherProcess) {
  vscan::Config config;
  config.devices[0].lockHeldElsewhere = true;
  Start(config);
  IStiDevice* d = nullptr;
  ASSERT_EQ(Create(u"\\\\.\\Usbscan0", 2, &d), S_OK);
  EXPECT_TRUE(FAILED(d->lpVtbl->LockDevice(d, 200)));
  EXPECT_FALSE(scanner_->locked());
  EXPECT_EQ(scanner_->virtualMicros(), 200000u) << "the time-out is waited out";
  d->lpVtbl->Release(d);
  Close();

  Start();
  IStiDevice* first = nullptr;
  IStiDevice* second = nullptr;
  ASSERT_EQ(Create(u"\\\\.\\Usbscan0", 2, &first), S_OK);
  ASSERT_EQ(Create(u"\\\\.\\Usbscan0", 2, &second), S_OK);
  EXPECT_TRUE(FAILED(first->lpVtbl->UnLockDevice(first))) << "nothing to unlock";
  ASSERT_EQ(first->lpVtbl->LockDevice(first, 200), S_OK);
  EXPECT_TRUE(FAILED(second->lpVtbl->LockDevice(second, 200)));
  EXPECT_EQ(first->lpVtbl->UnLockDevice(first), S_OK);
  scanner_->setLockHeldElsewhere(true);
  EXPECT_TRUE(FAILED(second->lpVtbl->LockDevice(second, 200)));
  scanner_->setLockHeldElsewhere(false);
  ASSERT_EQ(second->lpVtbl->LockDevice(second, 200), S_OK);
  EXPECT_TRUE(Violations().empty());
  // Letting go of a locked object without unlocking it is the caller's fault.
  second->lpVtbl->Release(second);
  EXPECT_TRUE(Violated("released while it holds the lock"));
  EXPECT_FALSE(scanner_->locked());
  first->lpVtbl->Release(first);
}

// --- device: escape decoding -------------------------------------------------------------

TEST_F(Hardware, MalformedEscapesAreRefusedAndRecorded) {
  Start();
  Open();
  scanner_->clearViolations();
  uint8_t byte = 0;
  uint8_t packet[8]{};
  struct Case {
    const char* what;
    DWORD code;
    uint32_t request, length;
    uint8_t* data;
    DWORD inSize;
  } cases[] = {
      {"control code", 0x80002014, 0x88, 1, &byte, sizeof(Block)},
      {"input block", kWrite, 0x88, 1, &byte, 12},
      {"unknown bridge request", kWrite, 0x81, 1, &byte, sizeof(Block)},
      {"read control code", kRead, 0x88, 1, &byte, sizeof(Block)},
      {"write control code", kWrite, 0x84, 1, &byte, sizeof(Block)},
      {"data bytes", kWrite, 0x88, 2, &byte, sizeof(Block)},
      {"data bytes", kWrite, 0x82, 1, packet, sizeof(Block)},
      {"data pointer", kWrite, 0x88, 1, nullptr, sizeof(Block)},
  };
  for (const Case& k : cases) {
    scanner_->clearViolations();
    Block block{k.request, k.length, k.data, 0};
    DWORD returned = 0;
    HRESULT hr = device_->lpVtbl->Escape(device_, k.code, &block, k.inSize, k.data, k.length, &returned);
    EXPECT_TRUE(FAILED(hr)) << k.what;
    ASSERT_EQ(Violations().size(), 1u) << k.what;
    EXPECT_NE(Violations()[0].find(k.what), std::string::npos) << Violations()[0];
  }
  // A well-formed request goes through cleanly and lands in the trace.
  scanner_->clearViolations();
  scanner_->clearTrace();
  EXPECT_EQ(Put(0x88, 0x5A), S_OK);
  EXPECT_TRUE(Violations().empty());
  ASSERT_EQ(scanner_->trace().size(), 1u);
  EXPECT_EQ(scanner_->trace()[0].request, 0x88);
  EXPECT_TRUE(scanner_->trace()[0].write);
  EXPECT_EQ(scanner_->trace()[0].byte, 0x5A);
}

TEST_F(Hardware, BridgeTrafficNeedsALockedDataModeDevice) {
  Start();
  IStiDevice* status = nullptr;
  ASSERT_EQ(Create(u"\\\\.\\Usbscan0", 1, &status), S_OK);
  std::swap(device_, status);
  EXPECT_TRUE(FAILED(Put(0x88, 0)));
  EXPECT_TRUE(Violated("status-only"));
  std::swap(device_, status);
  status->lpVtbl->Release(status);
  scanner_->clearViolations();
  ASSERT_EQ(Create(u"\\\\.\\Usbscan0", 2, &device_), S_OK);
  Put(0x88, 0);
  EXPECT_TRUE(Violated("not locked"));
}

TEST_F(Hardware, PortsAnswerAsWritten) {
  Start();
  Open(false);
  EXPECT_EQ(Put(0x89, 0x0F), S_OK);  // low four pins driven
  EXPECT_EQ(Put(0x8B, 0x05), S_OK);
  EXPECT_EQ(Get(0x8A), 0xF5);        // undriven pins read high
  EXPECT_GE(Get(0x86), 0);
  EXPECT_TRUE(Violations().empty());
}

// --- chip: wake-up and the register protocol ---------------------------------------------

TEST_F(Hardware, ChipIgnoresTheEppPortUntilBothWakeUpSequences) {
  Start();
  Open(false);
  WriteReg(12, 0x58);
  EXPECT_EQ(scanner_->reg(12), 0);
  EXPECT_TRUE(Violated("before the chip was woken"));
  // The first sequence alone does not wake it.
  for (uint8_t v : {0xA0, 0xA8, 0x50, 0x58, 0x90, 0x98, 0xC0, 0xC8, 0x90, 0x98, 0xE0, 0xE8}) Put(0x88, v);
  EXPECT_FALSE(scanner_->awake());
  Wake();
  EXPECT_TRUE(scanner_->awake());
  EXPECT_EQ(scanner_->wakeUps(), 1);
  scanner_->clearViolations();
  WriteReg(12, 0x58);
  WriteReg(37, 0x20);
  WriteReg(38, 0xC0);
  EXPECT_EQ(ReadReg(12), 0x58);
  EXPECT_EQ(scanner_->reg(12), 0x58);
  EXPECT_EQ(scanner_->afe(0x20), 0xC0);
  EXPECT_TRUE(Violations().empty());

  std::vector<vscan::RegisterWrite> writes = {{12, 0x58}, {37, 0x20}, {38, 0xC0}};
  auto traced = scanner_->registerWrites();
  ASSERT_GE(traced.size(), 4u);
  EXPECT_EQ(std::vector<vscan::RegisterWrite>(traced.end() - 3, traced.end()), writes);
  EXPECT_EQ(scanner_->registerReads().back(), 12);
  std::vector<vscan::RegisterWrite> afe = {{0x20, 0xC0}};
  EXPECT_EQ(scanner_->afeWrites(), afe);
}

TEST_F(Hardware, DataPortDirectionMustMatchTheAccess) {
  Start();
  Open();
  scanner_->setReg(7, 0x42);
  Select(7);
  Put(0x87, 0x14);
  EXPECT_EQ(Get(0x84), 0xFF) << "a read without the direction bit sees a floating bus";
  EXPECT_TRUE(Violated("without the direction bit"));
  scanner_->clearViolations();
  Put(0x87, 0x34);
  Put(0x85, 0x99);
  EXPECT_EQ(scanner_->reg(7), 0x42);
  EXPECT_TRUE(Violated("direction bit set"));
}

TEST_F(Hardware, RegisterThreeAnswersVariantLampAndReady) {
  struct Case {
    int variant;
    int expected;  // register 3 after the write of 0x53, with the ready bit up
  } cases[] = {{1, 0x59}, {2, 0x5B}};
  for (const Case& k : cases) {
    vscan::Config config;
    config.variant = k.variant;
    Start(config);
    Open();
    WriteReg(3, 0x53);
    EXPECT_EQ(ReadReg(3), k.expected) << "variant " << k.variant;
    WriteReg(3, 0x10);
    EXPECT_FALSE(scanner_->lampOn());
    EXPECT_EQ(ReadReg(3) & 0x01, 0);
    WriteReg(3, 0x11);
    EXPECT_TRUE(scanner_->lampOn());
    EXPECT_TRUE(Violations().empty());
    Close();
  }
}

TEST_F(Hardware, ReadyBitRisesAfterTheConfiguredPolls) {
  struct Case {
    int after;
    std::vector<bool> polls;
  } cases[] = {
      {0, {true, true}},
      {3, {false, false, false, true, true}},
      {-1, std::vector<bool>(50, false)},
  };
  for (const Case& k : cases) {
    vscan::Config config;
    config.readyAfterPolls = k.after;
    Start(config);
    Open();
    for (int round = 0; round < 2; round++) {
      WriteReg(29, 0x60);  // a block write drops the ready bit again
      for (size_t i = 0; i < k.polls.size(); i++) {
        EXPECT_EQ((ReadReg(3) & 0x08) != 0, k.polls[i]) << "after " << k.after << ", poll " << i;
      }
    }
    Close();
  }
}

// --- bridge: bulk announcements ----------------------------------------------------------

TEST_F(Hardware, LoopBackRamReturnsWhatWasWritten) {
  Start();
  Open();
  RamWrite(std::vector<uint8_t>(4096, 0x55));
  EXPECT_EQ(RamRead(4096), std::vector<uint8_t>(4096, 0x55));
  EXPECT_EQ(scanner_->chipRam()[4095], 0x55);
  scanner_->corruptRamByte(4095, 0x54);
  auto back = RamRead(4096);
  EXPECT_EQ(back[4094], 0x55);
  EXPECT_EQ(back[4095], 0x54);
  EXPECT_TRUE(Violations().empty());
}

TEST_F(Hardware, EveryBulkKindAnnouncesItsSize) {
  Start();
  Open();
  WriteReg(2, 0xA4);
  Select(36);
  struct Case {
    uint8_t direction, kind;
    uint16_t a, b;
    uint32_t bytes;
  } cases[] = {
      {0, 0x00, 1000, 0, 1000},           // plain read, 32-bit size
      {1, 0x00, 4096, 0, 4096},           // plain write
      {1, 0x01, 0x2345, 0x0001, 0x12345}, // firmware, 32-bit size
      {1, 0x11, 300, 0, 300},             // front end data
      {0, 0x0C, 3000, 4, 12000},          // lines: 16-bit size and count
      {0, 0x04, 0xF000, 1, 61440},        // fast blocks: 61440 each
  };
  std::vector<uint8_t> buffer(200000, 0);
  for (const Case& k : cases) {
    WriteReg(2, 0xA0);  // each case from the start of chip RAM
    WriteReg(2, 0xA4);
    Select(36);
    ASSERT_EQ(Setup(k.direction, k.kind, k.a, k.b), S_OK);
    DWORD n = k.bytes;
    ASSERT_EQ(k.direction ? RawWrite(buffer.data(), n) : RawRead(buffer.data(), &n), S_OK);
    EXPECT_EQ(n, k.bytes);
    EXPECT_TRUE(Violations().empty()) << "kind " << int(k.kind) << ": " << Violations()[0];
    scanner_->clearViolations();
  }
  EXPECT_EQ(scanner_->model().firmwareBytes.size(), 0x12345u);
  EXPECT_EQ(scanner_->model().analogueBytes.size(), 300u);
  const auto& last = scanner_->trace().back();
  EXPECT_EQ(last.kind, vscan::TraceEntry::BulkRead);
  EXPECT_EQ(last.size, 61440u);
}

TEST_F(Hardware, BulkMisuseIsRecorded) {
  Start();
  Open();
  std::vector<uint8_t> buffer(70000, 0);
  struct Step {
    std::function<void()> act;
    const char* what;
  };
  Step steps[] = {
      {[&] { DWORD n = 100; RawRead(buffer.data(), &n); }, "without a bulk setup packet"},
      {[&] { Setup32(0, 0, 100); DWORD n = 99; RawRead(buffer.data(), &n); }, "100 announced"},
      {[&] { Setup32(1, 0, 100); DWORD n = 100; RawRead(buffer.data(), &n); }, "announcing a write"},
      {[&] { Setup32(0, 0, 61441); DWORD n = 61441; RawRead(buffer.data(), &n); }, "61441 bytes announced"},
      {[&] { Setup(0, 0x04, 4096, 1); DWORD n = 4096; RawRead(buffer.data(), &n); }, "block size 4096"},
      {[&] { Setup32(0, 0, 10); Setup32(0, 0, 10); DWORD n = 10; RawRead(buffer.data(), &n); }, "still pending"},
      {[&] { Setup(0, 0x07, 1, 0); }, "kind 0x7"},
      {[&] { Select(5); Setup32(0, 0, 10); DWORD n = 10; RawRead(buffer.data(), &n); }, "not 36"},
      {[&] { Select(36); Setup32(0, 0, 10); DWORD n = 10; RawRead(buffer.data(), &n); }, "no transfer started"},
      {[&] { Select(36); Setup32(1, 0, 10); RawWrite(buffer.data(), 10); }, "without chip RAM access"},
  };
  for (const Step& s : steps) {
    scanner_->clearViolations();
    s.act();
    EXPECT_TRUE(Violated(s.what)) << s.what << (Violations().empty() ? "" : " / got: " + Violations()[0]);
  }
}

TEST_F(Hardware, TransferBitRunsTheStream) {
  Start();
  Open();
  WriteReg(5, 0x01);   // colour
  WriteReg(18, 99);    // 100 bytes per colour: 300-byte lines
  WriteReg(19, 0);
  WriteReg(27, 0x40);  // end line 0x640 / 2
  WriteReg(28, 0x06);
  EXPECT_FALSE(scanner_->transferRunning());
  WriteReg(2, 0xA8);
  EXPECT_TRUE(scanner_->transferRunning());
  Select(36);
  std::vector<uint8_t> buffer(2 * 61440);
  struct Case {
    uint8_t kind;
    uint16_t a, b;
    uint32_t bytes;
    bool clean;
  } cases[] = {
      {0x00, 1000, 0, 1000, true},
      {0x0C, 300, 2, 600, true},
      {0x0C, 200, 3, 600, false},  // the stream's lines are 300 bytes
      {0x04, 0xF000, 2, 122880, true},
  };
  for (const Case& k : cases) {
    scanner_->clearViolations();
    ASSERT_EQ(Setup(0, k.kind, k.a, k.b), S_OK);
    DWORD n = k.bytes;
    EXPECT_EQ(RawRead(buffer.data(), &n), S_OK);
    EXPECT_EQ(n, k.bytes);
    EXPECT_EQ(Violations().empty(), k.clean) << "kind " << int(k.kind);
    if (!k.clean) {
      EXPECT_TRUE(Violated("line-mode read of 200-byte lines"));
    }
  }
  WriteReg(2, 0xA0);
  EXPECT_FALSE(scanner_->transferRunning());
}

// --- chip: the correction table ----------------------------------------------------------

std::vector<uint8_t> TableBytes(int variant) {
  std::vector<uint8_t> t;
  for (int c = 0; c < 3; c++) {
    for (int i = 0; i < 4096; i++) {
      if (variant == 2) t.push_back(0);
      t.push_back(static_cast<uint8_t>((i / 16 + c * 7) & 0xFF));
    }
  }
  for (int k = 0; k < 5300; k++) {
    for (int c = 0; c < 3; c++) {
      uint16_t word = static_cast<uint16_t>(k * 3 + c);
      t.push_back(static_cast<uint8_t>(word));
      t.push_back(static_cast<uint8_t>(word >> 8));
    }
  }
  return t;
}

TEST_F(Hardware, CorrectionTableIsParsedByVariant) {
  struct Case {
    int variant;
    size_t bytes;
  } cases[] = {{1, 44088}, {2, 56376}};
  for (const Case& k : cases) {
    vscan::Config config;
    config.variant = k.variant;
    Start(config);
    Open();
    auto bytes = TableBytes(k.variant);
    ASSERT_EQ(bytes.size(), k.bytes);
    RamWrite(bytes);
    const auto& t = scanner_->correctionTable();
    ASSERT_TRUE(t.valid) << "variant " << k.variant;
    EXPECT_EQ(t.curves[0][0], 0);
    EXPECT_EQ(t.curves[0][4095], 255);
    EXPECT_EQ(t.curves[1][16], 8);
    EXPECT_EQ(t.curves[2][4095], static_cast<uint8_t>(255 + 14));
    EXPECT_EQ(t.words[0][0], 0);
    EXPECT_EQ(t.words[2][0], 2);
    EXPECT_EQ(t.words[1][5299], 5299 * 3 + 1);
    EXPECT_EQ(t.rawBytes[1][5299][0], static_cast<uint8_t>(15898));
    EXPECT_EQ(t.rawBytes[1][5299][1], 15898 >> 8);
    EXPECT_TRUE(Violations().empty());
    Close();
  }
}

TEST_F(Hardware, CorrectionTableInTheOtherLayoutIsRefused) {
  struct Case {
    int variant;
    std::vector<uint8_t> bytes;
    const char* what;
  } cases[] = {
      {1, TableBytes(2), "other variant"},
      {2, TableBytes(1), "other variant"},
      {2, [] { auto b = TableBytes(2); b[2] = 1; return b; }(), "non-zero first byte"},
  };
  for (const Case& k : cases) {
    vscan::Config config;
    config.variant = k.variant;
    Start(config);
    Open();
    RamWrite(k.bytes);
    EXPECT_TRUE(Violated(k.what)) << k.what;
    Close();
  }
}

// --- faults --------------------------------------------------------------------------------

TEST_F(Hardware, FaultsFireAtTheirIndex) {
  Start();
  Open();
  scanner_->failAt(vscan::Op::Escape, 2);
  std::vector<bool> ok;
  for (int i = 0; i < 5; i++) ok.push_back(SUCCEEDED(Put(0x88, 0)));
  EXPECT_EQ(ok, (std::vector<bool>{true, true, false, true, true}));
  EXPECT_TRUE(scanner_->trace().back().write);
  EXPECT_TRUE(scanner_->trace()[scanner_->trace().size() - 3].failed);

  scanner_->failFrom(vscan::Op::BulkSetup, 1);
  EXPECT_EQ(Put(0x88, 0), S_OK) << "plain requests are not bulk setups";
  EXPECT_EQ(Setup32(0, 0, 0), S_OK);
  DWORD n = 0;
  RawRead(nullptr, &n);
  EXPECT_TRUE(FAILED(Setup32(0, 0, 0)));
  EXPECT_TRUE(FAILED(Setup32(0, 0, 0)));
  scanner_->clearFaults();

  WriteReg(2, 0xA4);
  Select(36);
  std::vector<uint8_t> buffer(64, 0xAA);
  scanner_->failAt(vscan::Op::RawRead, 1);
  for (bool expect : {true, false, true}) {
    Setup32(0, 0, 64);
    n = 64;
    EXPECT_EQ(SUCCEEDED(RawRead(buffer.data(), &n)), expect);
  }
  scanner_->shortReadsFrom(0, 10);
  Setup32(0, 0, 64);
  std::fill(buffer.begin(), buffer.end(), 0xAA);
  n = 64;
  EXPECT_EQ(RawRead(buffer.data(), &n), S_OK);
  EXPECT_EQ(n, 54u);
  EXPECT_EQ(buffer[53], 0x00);
  EXPECT_EQ(buffer[54], 0xAA) << "the missing tail is not written";
  EXPECT_TRUE(Violations().empty()) << Violations()[0];

  scanner_->vanish();
  EXPECT_TRUE(FAILED(Put(0x88, 0)));
  EXPECT_TRUE(FAILED(device_->lpVtbl->UnLockDevice(device_)));
  IStiDevice* again = nullptr;
  EXPECT_TRUE(FAILED(Create(u"\\\\.\\Usbscan0", 1, &again)));
}

TEST_F(Hardware, ObjectsOutliveTheirScanner) {
  Start();
  Open();
  IStiDevice* kept = device_;
  IStillImageW* service = service_;
  device_ = nullptr;
  service_ = nullptr;
  Close();
  // The driver may still hold what it never released: calls fail, releases free.
  EXPECT_TRUE(FAILED(kept->lpVtbl->LockDevice(kept, 200)));
  EXPECT_EQ(kept->lpVtbl->Release(kept), 0u);
  EXPECT_EQ(service->lpVtbl->Release(service), 0u);
}

}  // namespace
