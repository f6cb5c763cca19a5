// The test-facing face of the virtual scanner: checking, the trace and its decoders,
// counters and fault injection, and the installation of the scanner as the still-image
// service ("sti.dll" in the host module table).
#include "vscan/vscan.h"

#include <cstring>
#include <iterator>

#include "driver/chip/chip_registers.h"
#include "driver/transport/bridge_protocol.h"
#include "vscan/scanner.h"

namespace vscan {

// --- the model -------------------------------------------------------------------------

Scanner::Scanner(const Config& c) : config(c), ram(kChipRamBytes, 0), stream(config) {
  if (config.lampOnAtStart) regs[kRegStatus] |= kStatusLamp;
}

Scanner::~Scanner() {
  // The driver may still hold objects (a failure path that does not release them): they
  // stay valid but answer as if the device had gone.
  for (ServiceObject* o : services) {
    o->scanner = nullptr;
    Orphan(o);
  }
  for (DeviceObject* o : devices) {
    o->scanner = nullptr;
    Orphan(o);
  }
}

void Scanner::Violation(const std::string& what) { violations.push_back(what); }

bool Scanner::CountAndFail(Op op) {
  uint64_t n = counts[static_cast<int>(op)]++;
  for (const Fault& f : faults) {
    if (f.op == op && (f.onward ? n >= f.at : n == f.at)) return true;
  }
  return false;
}

// --- VirtualScanner --------------------------------------------------------------------

VirtualScanner::VirtualScanner(const Config& config) : scanner_(std::make_unique<Scanner>(config)) {}
VirtualScanner::~VirtualScanner() {
  if (Installed() == this) Uninstall();
}

const Config& VirtualScanner::config() const { return scanner_->config; }

const std::vector<std::string>& VirtualScanner::violations() const { return scanner_->violations; }
void VirtualScanner::clearViolations() { scanner_->violations.clear(); }

const std::vector<TraceEntry>& VirtualScanner::trace() const { return scanner_->trace; }
void VirtualScanner::clearTrace() { scanner_->trace.clear(); }

// The decoders follow the register selection the way the chip does: an EPP address write
// selects, an EPP data access reaches the selected register. Failed requests did not reach
// the chip and are skipped.
std::vector<RegisterWrite> VirtualScanner::registerWrites() const {
  std::vector<RegisterWrite> out;
  uint8_t sel = 0;
  for (const TraceEntry& e : scanner_->trace) {
    if (e.kind != TraceEntry::Request || e.failed) continue;
    if (e.request == kReqEppAddressWrite) sel = e.byte;
    if (e.request == kReqEppDataWrite) out.push_back({sel, e.byte});
  }
  return out;
}

std::vector<uint8_t> VirtualScanner::registerReads() const {
  std::vector<uint8_t> out;
  uint8_t sel = 0;
  for (const TraceEntry& e : scanner_->trace) {
    if (e.kind != TraceEntry::Request || e.failed) continue;
    if (e.request == kReqEppAddressWrite) sel = e.byte;
    if (e.request == kReqEppDataRead) out.push_back(sel);
  }
  return out;
}

std::vector<RegisterWrite> VirtualScanner::afeWrites() const {
  std::vector<RegisterWrite> out;
  uint8_t index = 0;
  for (const RegisterWrite& w : registerWrites()) {
    if (w.reg == kRegAfeIndex) index = w.value;
    if (w.reg == kRegAfeData) out.push_back({index, w.value});
  }
  return out;
}

uint64_t VirtualScanner::count(Op op) const { return scanner_->counts[static_cast<int>(op)]; }
uint64_t VirtualScanner::virtualMicros() const { return scanner_->virtualMicros; }
int VirtualScanner::wakeUps() const { return scanner_->wakeUps; }

uint8_t VirtualScanner::reg(uint8_t r) const { return r < kRegisterCount ? scanner_->regs[r] : 0xFF; }
void VirtualScanner::setReg(uint8_t r, uint8_t value) {
  if (r < kRegisterCount) scanner_->regs[r] = value;
}
uint8_t VirtualScanner::afe(uint8_t index) const {
  return index < kAfeRegisterCount ? scanner_->afe[index] : 0xFF;
}
bool VirtualScanner::awake() const { return scanner_->awake; }
bool VirtualScanner::lampOn() const { return scanner_->regs[kRegStatus] & kStatusLamp; }
bool VirtualScanner::transferRunning() const { return scanner_->transferRunning; }
bool VirtualScanner::locked() const { return scanner_->lockOwner != nullptr; }
int VirtualScanner::openDeviceObjects() const { return static_cast<int>(scanner_->devices.size()); }
int VirtualScanner::serviceObjects() const { return static_cast<int>(scanner_->services.size()); }
const std::vector<uint8_t>& VirtualScanner::chipRam() const { return scanner_->ram; }
const VirtualScanner::CorrectionTable& VirtualScanner::correctionTable() const { return scanner_->table; }

void VirtualScanner::failAt(Op op, uint64_t index) {
  scanner_->faults.push_back({op, count(op) + index, false});
}
void VirtualScanner::failFrom(Op op, uint64_t index) {
  scanner_->faults.push_back({op, count(op) + index, true});
}
void VirtualScanner::clearFaults() {
  scanner_->faults.clear();
  scanner_->shortReadFrom = UINT64_MAX;
  scanner_->ramCorruption.clear();
  scanner_->readCorruptions.clear();
  scanner_->corruptAnswerFrom = UINT64_MAX;
}
void VirtualScanner::vanish() { scanner_->vanished = true; }
void VirtualScanner::shortReadsFrom(uint64_t index, uint32_t missingBytes) {
  scanner_->shortReadFrom = count(Op::RawRead) + index;
  scanner_->shortReadMissing = missingBytes;
}
void VirtualScanner::corruptRamByte(uint32_t offset, uint8_t value) { scanner_->ramCorruption[offset] = value; }
void VirtualScanner::corruptReadsFrom(uint64_t index, Corruption kind, uint8_t value) {
  scanner_->readCorruptions[count(Op::RawRead) + index] = {kind, value};
}
void VirtualScanner::corruptAnswersFrom(uint64_t index, uint8_t mask) {
  scanner_->corruptAnswerFrom = count(Op::Escape) + index;
  scanner_->corruptAnswerMask = mask;
}

void Scanner::CorruptRead(uint8_t* data, uint32_t n, uint64_t number) const {
  auto next = readCorruptions.upper_bound(number);
  if (next == readCorruptions.begin()) return;
  const ReadCorruption& c = std::prev(next)->second;
  if (c.kind == VirtualScanner::Corruption::Keep) return;
  if (c.kind == VirtualScanner::Corruption::Fill) {
    std::memset(data, c.value, n);
    return;
  }
  // A small xorshift stream, different for every read.
  uint32_t x = 0x9E3779B9u ^ (static_cast<uint32_t>(number) * 0x85EBCA6Bu) ^ c.value;
  for (uint32_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    data[i] ^= static_cast<uint8_t>(x);
  }
}
void VirtualScanner::setReadyAfterPolls(int polls) { scanner_->config.readyAfterPolls = polls; }
void VirtualScanner::setLockHeldElsewhere(bool held) { scanner_->lockHeldElsewhere = held; }

Scanner& VirtualScanner::model() { return *scanner_; }
const Scanner& VirtualScanner::model() const { return *scanner_; }

// --- installation ----------------------------------------------------------------------

namespace {
VirtualScanner* installed = nullptr;
}

void Install(VirtualScanner* scanner) {
  installed = scanner;
#if !defined(_WIN32)
  host::RegisterModule("sti.dll", {{"StiCreateInstance", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&StiFactory))}});
#endif
}

void Uninstall() {
  installed = nullptr;
#if !defined(_WIN32)
  host::UnregisterModule("sti.dll");
#endif
}

VirtualScanner* Installed() { return installed; }

}  // namespace vscan
