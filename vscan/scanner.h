// The virtual scanner's internal model, one object per piece of hardware: the still-image
// service's bookkeeping (device objects, the lock), the USB-to-parallel bridge (ports, GPIO,
// bulk announcements) and the controller chip (wake-up, register file, front end, bulk port
// RAM, transfer start and stop). The optics and the sample stream sit behind StreamEngine.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "vscan/stream_engine.h"
#include "vscan/vscan.h"

namespace vscan {

constexpr int kOpKinds = 7;  // the values of Op
constexpr uint32_t kRegisterCount = 64;
constexpr uint32_t kAfeRegisterCount = 64;
constexpr uint32_t kChipRamBytes = 65536;
constexpr uint32_t kToneCurveEntries = 4096;
// Correction table: three tone curves, then 5300 pixel groups of three 2-byte words.
constexpr uint32_t kPixelGroupBytes = 5300 * 6;
constexpr uint32_t CorrectionTableBytes(int variant) {
  return (variant == 2 ? 2u : 1u) * 3u * kToneCurveEntries + kPixelGroupBytes;
}

// HRESULTs the virtual service and device hand back.
constexpr HRESULT kErrDeviceLocked = static_cast<HRESULT>(0x80070021u);     // lock violation
constexpr HRESULT kErrNotConnected = static_cast<HRESULT>(0x8007048Fu);     // device not connected
constexpr HRESULT kErrInvalidName = static_cast<HRESULT>(0x8007007Bu);      // invalid device name
constexpr HRESULT kErrWrongMode = static_cast<HRESULT>(0x80070005u);        // access denied

class Scanner;

// COM objects in the C layout: the table pointer first, then our own fields.
struct ServiceObject {
  const IStillImageWVtbl* lpVtbl;
  Scanner* scanner;  // null once the scanner is gone
  ULONG refs;
};

struct DeviceObject {
  const IStiDeviceVtbl* lpVtbl;
  Scanner* scanner;  // null once the scanner is gone
  ULONG refs;
  DWORD mode;        // 1 status only, 2 data
  size_t record;     // index in Config::devices
};

// The factory the service library exports as "StiCreateInstance".
HRESULT WINAPI StiFactory(HINSTANCE instance, DWORD version, IStillImageW** stillImage, LPUNKNOWN outer);
ServiceObject* NewServiceObject(Scanner* scanner);
DeviceObject* NewDeviceObject(Scanner* scanner, DWORD mode, size_t record);
// Objects whose scanner has gone stay allocated (the driver may still hold them) until
// they are released.
void Orphan(void* object);
bool Adopted(void* object);  // removes it from the orphans; true if it was one

class Scanner {
 public:
  explicit Scanner(const Config& config);
  ~Scanner();

  Config config;

  // --- checking, trace, counters, faults ------------------------------------------
  std::vector<std::string> violations;
  std::vector<TraceEntry> trace;
  uint64_t counts[kOpKinds]{};
  struct Fault {
    Op op;
    uint64_t at;
    bool onward;
  };
  std::vector<Fault> faults;
  bool vanished = false;
  uint64_t shortReadFrom = UINT64_MAX;
  uint32_t shortReadMissing = 0;
  bool lockHeldElsewhere = false;
  std::map<uint32_t, uint8_t> ramCorruption;
  struct ReadCorruption {
    VirtualScanner::Corruption kind;
    uint8_t value;
  };
  // By the raw read number from which each applies, up to the next one's.
  std::map<uint64_t, ReadCorruption> readCorruptions;
  uint64_t corruptAnswerFrom = UINT64_MAX;  // escape number from which answers are corrupted
  uint8_t corruptAnswerMask = 0;
  void CorruptRead(uint8_t* data, uint32_t n, uint64_t number) const;
  uint64_t virtualMicros = 0;  // time the exchanges would take on the real bus

  void Violation(const std::string& what);
  // Counts one operation of the kind and says whether an injected fault makes it fail.
  bool CountAndFail(Op op);

  // --- service layer (service.cpp, device.cpp) -------------------------------------
  std::set<ServiceObject*> services;
  std::set<DeviceObject*> devices;
  DeviceObject* lockOwner = nullptr;
  bool LockHeldElsewhere(size_t record) const;

  // --- bridge (bridge.cpp) ---------------------------------------------------------
  // One decoded bridge request; false when the bridge refuses it.
  bool BridgeWrite(uint8_t request, const uint8_t* data, uint32_t length);
  bool BridgeRead(uint8_t request, uint8_t* data, uint32_t length);
  // The raw transfer that follows a bulk setup packet; a short read delivers fewer bytes
  // than were asked for.
  void RawRead(uint8_t* buffer, uint32_t asked, uint32_t delivered);
  void RawWrite(const uint8_t* buffer, uint32_t bytes);
  // A raw transfer that failed still uses up its announcement.
  void DropAnnouncement();

  struct Announcement {
    bool active = false;
    bool toScanner = false;
    uint8_t kind = 0;
    uint8_t value = 0;
    uint32_t size = 0;
    uint16_t lineSize = 0;  // kind 0x0C
  } announcement;

  uint8_t sppData = 0;
  uint8_t sppControl = 0;
  uint8_t sppStatus = 0x78;   // idle printer-port status lines
  uint8_t gpioOutputEnable = 0;
  uint8_t gpioPins = 0;
  uint8_t gpioInputs = 0xFF;  // pins not driven read high (pull-ups)
  std::vector<uint8_t> firmwareBytes;  // kind 0x01 writes, kept as received
  std::vector<uint8_t> analogueBytes;  // kind 0x11 writes, kept as received

  // --- chip (chip_model.cpp) -------------------------------------------------------
  void ChipSppDataWrite(uint8_t value);
  void ChipSppControlWrite(uint8_t value);
  void ChipEppAddressWrite(uint8_t value);
  void ChipEppDataWrite(uint8_t value);
  uint8_t ChipEppDataRead();
  // Bulk data through register 36: the RAM under register 2 bit 0x04, else the stream.
  void ChipBulkRead(uint8_t* dst, uint32_t n, const Announcement& a);
  void ChipBulkWrite(const uint8_t* src, uint32_t n);

  void WriteRegister(uint8_t r, uint8_t value);
  uint8_t ReadRegister(uint8_t r);
  bool Ready() const;
  void ParseCorrectionTable();

  bool awake = false;
  int wakeProgress = 0;
  int wakeUps = 0;
  uint8_t regs[kRegisterCount]{};
  uint8_t afe[kAfeRegisterCount]{};
  uint8_t selected = 0;
  bool selectedValid = false;
  int statusPolls = 0;  // reads of register 3 since the last register block write
  std::vector<uint8_t> ram;
  uint32_t ramPointer = 0;
  VirtualScanner::CorrectionTable table;
  bool transferRunning = false;
  StreamEngine stream;
};

}  // namespace vscan
