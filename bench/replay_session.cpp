// The benchmarks' scan: set up on the virtual scanner, read from memory (see the header).
#include "bench/replay_session.h"

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "driver/calibration/calibration.h"
#include "driver/chip/chip.h"
#include "driver/interface/device_state.h"
#include "driver/pipeline/pipeline.h"
#include "driver/transport/transport.h"

namespace bench {

namespace {

ReplayDevice* Self(IStiDevice* device) { return reinterpret_cast<ReplayDevice*>(device); }

HRESULT Unexpected(IStiDevice* device) {
  ++Self(device)->unexpected;
  return E_FAIL;
}

HRESULT QueryInterface(IStiDevice* d, REFIID, LPVOID*) { return Unexpected(d); }
ULONG AddRef(IStiDevice* d) { return static_cast<ULONG>(Unexpected(d) & 0); }
ULONG Release(IStiDevice* d) { return static_cast<ULONG>(Unexpected(d) & 0); }
HRESULT Initialize(IStiDevice* d, HINSTANCE, LPCWSTR, DWORD, DWORD) { return Unexpected(d); }
HRESULT GetCapabilities(IStiDevice* d, void*) { return Unexpected(d); }
HRESULT GetStatus(IStiDevice* d, void*) { return Unexpected(d); }
HRESULT DeviceReset(IStiDevice* d) { return Unexpected(d); }
HRESULT Diagnostic(IStiDevice* d, void*) { return Unexpected(d); }
HRESULT GetLastError(IStiDevice* d, LPDWORD) { return Unexpected(d); }
HRESULT LockDevice(IStiDevice* d, DWORD) { return Unexpected(d); }
HRESULT UnLockDevice(IStiDevice* d) { return Unexpected(d); }
HRESULT RawWriteData(IStiDevice* d, LPVOID, DWORD, LPOVERLAPPED) { return Unexpected(d); }
HRESULT RawReadCommand(IStiDevice* d, LPVOID, LPDWORD, LPOVERLAPPED) { return Unexpected(d); }
HRESULT RawWriteCommand(IStiDevice* d, LPVOID, DWORD, LPOVERLAPPED) { return Unexpected(d); }

// During a scan read the only control request is the packet announcing a plain bulk read
// of one chunk; anything else means the benchmark is not measuring what it claims.
HRESULT Escape(IStiDevice* d, STI_RAW_CONTROL_CODE code, LPVOID inData, DWORD inSize, LPVOID, DWORD, LPDWORD) {
  ReplayDevice* self = Self(d);
  if (code != kEscapeRegisterWrite || inSize < sizeof(EscapeBlock)) return Unexpected(d);
  const EscapeBlock* block = static_cast<const EscapeBlock*>(inData);
  if (block->request != kReqBulkSetup || block->length != kBulkSetupPacketSize) return Unexpected(d);
  const uint8_t* packet = block->data;
  uint32_t size = packet[4] | packet[5] << 8 | packet[6] << 16 | static_cast<uint32_t>(packet[7]) << 24;
  if (packet[0] != kBulkFromScanner || packet[1] != kBulkPlain || size != self->chunkBytes) return Unexpected(d);
  ++self->announced;
  return S_OK;
}

HRESULT RawReadData(IStiDevice* d, LPVOID buffer, LPDWORD bytes, LPOVERLAPPED) {
  ReplayDevice* self = Self(d);
  if (*bytes != self->chunkBytes || self->chunkCount == 0) return Unexpected(d);
  const uint8_t* chunk = self->chunks + (self->reads % self->chunkCount) * self->chunkBytes;
  if (self->timeCopies) {
    auto start = std::chrono::steady_clock::now();
    std::memcpy(buffer, chunk, self->chunkBytes);
    self->copyNanos += static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
  } else {
    std::memcpy(buffer, chunk, self->chunkBytes);
  }
  ++self->reads;
  return S_OK;
}

const IStiDeviceVtbl kReplayTable = {
    QueryInterface, AddRef,       Release,      Initialize,   GetCapabilities, GetStatus,
    DeviceReset,    Diagnostic,   Escape,       GetLastError, LockDevice,      UnLockDevice,
    RawReadData,    RawWriteData, RawReadCommand, RawWriteCommand,
};

// The usable width of the sensor in 600 dpi pixels.
constexpr uint32_t kSensorSpan = 5280;

}  // namespace

ReplaySession::ReplaySession(int variant) {
  ResetDriverState();
  vscan::Config config;
  config.variant = variant;
  scanner_ = std::make_unique<vscan::VirtualScanner>(config);
  vscan::Install(scanner_.get());
  replay_.device.lpVtbl = &kReplayTable;
}

ReplaySession::~ReplaySession() {
  Stop();
  if (open_) LD_CloseScanner();
  // The set-up, the recording and the stop ran on the model: it should have seen a
  // correct exchange.
  const std::vector<std::string>& violations = scanner_->violations();
  if (!violations.empty()) {
    std::fprintf(stderr, "virtual scanner: %zu protocol violations, first: %s\n", violations.size(),
                 violations.front().c_str());
  }
  vscan::Uninstall();
  scanner_.reset();
  ResetDriverState();
}

bool ReplaySession::Open() {
  if (LD_OpenScanner() != 1) return error_ = "LD_OpenScanner failed", false;
  open_ = true;
  if (LD_LampOn() != 1) return error_ = "LD_LampOn failed", false;
  if (LD_DeviceInit() != 1) return error_ = "LD_DeviceInit failed", false;
  return true;
}

bool ReplaySession::Start(const ScanRequest& request, size_t recordChunks) {
  Stop();
  if (LD_SetScanParameter(&request) != 1) {
    int32_t status = -1;
    LD_GetScannerStatus(&status);
    return error_ = "LD_SetScanParameter refused the request (status " + std::to_string(status) + ")", false;
  }
  // The scan's stream, read on from where priming left it, as the driver's refills would.
  uint32_t chunk = transferBuffer.chunkSize;
  recording_.assign(recordChunks * chunk, 0);
  for (size_t i = 0; i < recordChunks; ++i) {
    if (UsbReadScanner(recording_.data() + i * chunk, chunk, 0) != 1) {
      return error_ = "recording the stream from the virtual scanner failed", false;
    }
  }
  replay_.chunks = recording_.data();
  replay_.chunkCount = recordChunks;
  replay_.chunkBytes = chunk;
  replay_.reads = replay_.announced = replay_.unexpected = replay_.copyNanos = 0;
  realDevice_ = deviceConnection.scannerDevice;
  deviceConnection.scannerDevice = &replay_.device;
  return true;
}

void ReplaySession::Stop() {
  if (realDevice_ != nullptr) {
    deviceConnection.scannerDevice = realDevice_;
    realDevice_ = nullptr;
  }
  if (open_) LD_ResetScanner(0);
}

ScanRequest WideRequest(uint16_t mode, uint16_t resolution, uint32_t pixels) {
  if (pixels == 0) pixels = kSensorSpan * resolution / 600;
  ScanRequest r{};
  r.width = 2550;
  r.length = 3510;
  r.mode = mode;
  r.resolution = resolution;
  if (mode == kModeColour) {
    r.bytesPerLine = 3 * pixels;
  } else if (mode == kModeGrey) {
    r.bytesPerLine = pixels;
  } else {
    // Line art: the driver takes 8 x bytes - 7 pixels from bytes per line.
    r.bytesPerLine = (pixels + 7) / 8;
  }
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) r.toneCurves[c][v] = static_cast<uint8_t>(v);
  }
  r.colourOrder = 1;
  return r;
}

uint32_t OutputLineBytes(const ScanRequest& request) {
  ScanSettings settings{};
  FillScanSettings(&request, &settings);
  return settings.outputLineBytes;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

ReplaySession* SharedSession(std::string* error) {
  static std::unique_ptr<ReplaySession> session;
  static bool opened = false;
  if (!session) {
    session = std::make_unique<ReplaySession>();
    opened = session->Open();
  }
  if (opened) return session.get();
  *error = session->error();
  return nullptr;
}

}  // namespace bench
