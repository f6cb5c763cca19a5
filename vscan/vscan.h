// The virtual Lumetra 5170C: a register-level model of the scanner behind the still-image
// service's interfaces, the hardware of every test and of the demo. One scanner object is
// installed at a time; installing it registers a "sti.dll" module (on the host, in the
// platform stand-in's module table) whose "StiCreateInstance" hands out service objects
// bound to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vscan {

// One record of the service's device list.
struct DeviceRecord {
  uint32_t deviceType = 0x00010001;  // device class (1 scanner) << 16 | sub-type
  std::u16string internalName = u"\\\\.\\Usbscan0";
  std::u16string description = u"Vestrand-Okalar Lumetra 5170C";
  bool failStatusCreate = false;     // CreateDevice in status mode (1) fails
  bool failDataCreate = false;       // CreateDevice in data mode (2) fails
  bool lockHeldElsewhere = false;    // another process holds this device's lock
};

struct Config {
  int variant = 1;                   // hardware variant, 1 or 2 (register 3 bit 0x02)
  std::vector<DeviceRecord> devices{DeviceRecord{}};
  bool factoryFails = false;         // StiCreateInstance yields no service object
  bool deviceListFails = false;      // GetDeviceList fails
  bool deviceListEmptyBlock = false; // GetDeviceList succeeds but yields no block
  int readyAfterPolls = 0;           // register 3 bit 0x08 after N reads; -1: never
  uint32_t seed = 5170;              // per-pixel response and dark signal
  std::string documentPath;          // PNG or PNM on the glass; empty: the built-in chart
  bool lampOnAtStart = false;
};

// Kinds of operation that faults, counters and the trace distinguish.
enum class Op {
  Escape,      // any Escape call (control request, including bulk setup packets)
  BulkSetup,   // an Escape carrying request 0x82
  RawRead,     // RawReadData
  RawWrite,    // RawWriteData
  Lock,        // LockDevice
  Unlock,      // UnLockDevice
  CreateDevice,
};

struct TraceEntry {
  enum Kind { Request, BulkRead, BulkWrite } kind;
  uint8_t request = 0;   // bridge request number (Request)
  bool write = false;    // direction of a Request
  uint8_t byte = 0;      // the byte moved by a one-byte request
  uint8_t packet[8]{};   // the bulk setup packet (request 0x82)
  uint32_t size = 0;     // bytes of a bulk transfer
  bool failed = false;   // the request or transfer failed (an injected fault, a refusal)
};

struct RegisterWrite {
  uint8_t reg;
  uint8_t value;
  bool operator==(const RegisterWrite& o) const { return reg == o.reg && value == o.value; }
};

class Scanner;  // the model, vscan-internal

class VirtualScanner {
 public:
  explicit VirtualScanner(const Config& config = Config{});
  ~VirtualScanner();
  VirtualScanner(const VirtualScanner&) = delete;
  VirtualScanner& operator=(const VirtualScanner&) = delete;

  const Config& config() const;

  // --- checking ----------------------------------------------------------------------
  // Protocol violations seen so far (EPP use before wake-up, a data read without the
  // direction bit, a bulk transfer of another size than announced or with register 36
  // not selected, a stream read with no transfer started, ...). Empty for a correct run.
  const std::vector<std::string>& violations() const;
  void clearViolations();

  // --- trace -------------------------------------------------------------------------
  const std::vector<TraceEntry>& trace() const;
  void clearTrace();
  // The chip register writes and reads (register number) the trace decodes to, in order.
  std::vector<RegisterWrite> registerWrites() const;
  std::vector<uint8_t> registerReads() const;
  // The front-end writes (index, value) made through registers 37/38.
  std::vector<RegisterWrite> afeWrites() const;
  uint64_t count(Op op) const;  // operations of that kind so far
  // Time the exchanges so far would take on the real bus: 1 ms per control request, bulk
  // data at full-speed USB (1,216,000 bytes a second), lock time-outs waited out.
  uint64_t virtualMicros() const;
  int wakeUps() const;  // complete wake-up sequences the chip has seen

  // --- chip state --------------------------------------------------------------------
  uint8_t reg(uint8_t r) const;
  void setReg(uint8_t r, uint8_t value);  // pokes the register file directly
  uint8_t afe(uint8_t index) const;
  bool awake() const;
  bool lampOn() const;
  bool transferRunning() const;
  bool locked() const;          // this process holds the device lock
  int openDeviceObjects() const; // device objects created and not yet released
  int serviceObjects() const;    // service objects alive
  // The chip RAM under register 2 bit 0x04 (loop-back test, correction table).
  const std::vector<uint8_t>& chipRam() const;
  // The last correction table written through register 36, parsed by variant.
  struct CorrectionTable {
    bool valid = false;
    uint8_t curves[3][4096]{};        // chip tone curves, red, green, blue
    uint16_t words[3][5300]{};        // correction words g*64+o (as uploaded)
    uint8_t rawBytes[3][5300][2]{};   // the two bytes of each word as received
  };
  const CorrectionTable& correctionTable() const;

  // --- faults ------------------------------------------------------------------------
  // Make the index-th operation of a kind from now on fail (0 = the next one), or every
  // one from that index on.
  void failAt(Op op, uint64_t index);
  void failFrom(Op op, uint64_t index);
  // Drops the failures, short reads and corrupted RAM bytes and reads set so far (not a
  // vanished device or a lock held elsewhere).
  void clearFaults();
  // The device vanishes: every later operation on it fails.
  void vanish();
  // Raw reads come back short (bytes fewer than asked) from the index-th on.
  void shortReadsFrom(uint64_t index, uint32_t missingBytes);
  // Bytes of loop-back RAM that read back changed (offset, value).
  void corruptRamByte(uint32_t offset, uint8_t value);
  // What the device returns comes back wrong. Raw reads from the index-th on: every byte
  // set to `value` (Fill), each byte XORed with a pattern seeded by `value` (Scramble), or
  // as the scanner made them (Keep), until a later index set this way takes over; so a
  // bright band, then a dark one, can be laid over a calibration pass line by line.
  // One-byte bridge read answers from the index-th escape on: XORed with `mask`.
  enum class Corruption { Fill, Scramble, Keep };
  void corruptReadsFrom(uint64_t index, Corruption kind, uint8_t value);
  void corruptAnswersFrom(uint64_t index, uint8_t mask);
  void setReadyAfterPolls(int polls);  // -1: never ready
  void setLockHeldElsewhere(bool held);

  // --- model access for end-to-end image tests ---------------------------------------
  Scanner& model();
  const Scanner& model() const;

 private:
  std::unique_ptr<Scanner> scanner_;
};

// Installs the scanner as the still-image service ("sti.dll" with "StiCreateInstance").
// The scanner must outlive its installation. Uninstall removes the module (a later open
// then finds no service library).
void Install(VirtualScanner* scanner);
void Uninstall();
VirtualScanner* Installed();

}  // namespace vscan
