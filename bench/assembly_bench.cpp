// Cost of turning the scanner's stream into finished lines, against a plain copy of the
// same output bytes: FetchLine and AssembleLines at the widest window the sensor takes, in
// colour at 600 and 300 dpi, grey and line art, with the stream served from memory (see
// replay_session.h). For each kind of scan three rows run one after the other:
//   memcpy    copies the bytes of the same number of finished lines, buffer to buffer;
//   assemble  AssembleLines for those lines (every refill, decode, realignment, curves,
//             mirroring and packing);
//   decode    FetchLine alone for the same lines, to split the decoder from the output.
// The counters: x_memcpy is the row's CPU time over the memcpy row's for the same bytes;
// x_memcpy_net leaves out the time the replay device spends filling the stream buffer,
// the work of the USB stack on a real machine; refills_per_line is bulk reads per line.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/memcpy_baseline.h"
#include "bench/replay_session.h"
#include "driver/chip/chip.h"
#include "driver/interface/device_state.h"
#include "driver/pipeline/pipeline.h"

namespace {

// Lines per iteration: about 1 MB of 600 dpi colour output, a few refills' worth.
constexpr uint32_t kLinesPerIteration = 64;

struct Kind {
  const char* name;
  uint16_t mode;
  uint16_t resolution;
};

constexpr Kind kKinds[] = {
    {"colour_600dpi", kModeColour, 600},
    {"colour_300dpi", kModeColour, 300},
    {"grey_600dpi", kModeGrey, 600},
    {"lineart_600dpi", kModeLineArt, 600},
};

bench::ReplaySession* Session(benchmark::State& state) {
  std::string error;
  bench::ReplaySession* session = bench::SharedSession(&error);
  if (session == nullptr) state.SkipWithError(error.c_str());
  return session;
}

// CPU nanoseconds per output byte of each kind's memcpy row.
std::map<std::string, double>& MemcpyNanosPerByte() {
  static std::map<std::string, double> figures;
  return figures;
}

void Memcpy(benchmark::State& state, Kind kind) {
  size_t bytes = static_cast<size_t>(bench::OutputLineBytes(bench::WideRequest(kind.mode, kind.resolution))) *
                 kLinesPerIteration;
  MemcpyNanosPerByte()[kind.name] = bench::TimedMemcpy(state, bytes) * 1e9 / static_cast<double>(bytes);
}

enum class Work { kAssemble, kDecode };

void Driver(benchmark::State& state, Kind kind, Work work) {
  bench::ReplaySession* session = Session(state);
  if (session == nullptr) return;
  if (!session->Start(bench::WideRequest(kind.mode, kind.resolution))) {
    state.SkipWithError(session->error().c_str());
    return;
  }
  size_t lineBytes = scanSettings.outputLineBytes;
  size_t bytes = lineBytes * kLinesPerIteration;
  std::vector<uint8_t> destination(bytes, 0);
  bench::ReplayDevice& replay = session->replay();
  replay.timeCopies = true;
  uint32_t slots = chipSetup.resolution > 300 ? 9 : chipSetup.resolution > 150 ? 5 : 3;
  bool colour = (chipSetup.modeCode & 0x0F) == 0x01;
  uint32_t slot = 0;

  uint64_t readsBefore = replay.reads;
  double start = bench::ThreadCpuSeconds();
  for (auto _ : state) {
    if (work == Work::kAssemble) {
      if (AssembleLines(destination.data(), kLinesPerIteration) != kStepOk) {
        state.SkipWithError("AssembleLines failed");
        break;
      }
      benchmark::DoNotOptimize(destination.data());
    } else {
      for (uint32_t i = 0; i < kLinesPerIteration; ++i) {
        if (!FetchLine(colour ? slot : 0)) {
          state.SkipWithError("FetchLine failed");
          break;
        }
        if (++slot == slots) slot = 0;
      }
    }
    benchmark::ClobberMemory();
  }
  double seconds = bench::ThreadCpuSeconds() - start;
  replay.timeCopies = false;

  if (replay.unexpected != 0) state.SkipWithError("the driver made calls a scan read does not make");
  double totalBytes = static_cast<double>(bytes) * static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(totalBytes));
  state.counters["refills_per_line"] =
      static_cast<double>(replay.reads - readsBefore) / (static_cast<double>(kLinesPerIteration) * state.iterations());
  auto memcpyFigure = MemcpyNanosPerByte().find(kind.name);
  if (memcpyFigure != MemcpyNanosPerByte().end() && totalBytes > 0) {
    double nanosPerByte = seconds * 1e9 / totalBytes;
    double netNanosPerByte = (seconds * 1e9 - static_cast<double>(replay.copyNanos)) / totalBytes;
    state.counters["x_memcpy"] = nanosPerByte / memcpyFigure->second;
    state.counters["x_memcpy_net"] = netNanosPerByte / memcpyFigure->second;
  }
  session->Stop();
}

}  // namespace

int main(int argc, char** argv) {
  for (const Kind& kind : kKinds) {
    std::string name = kind.name;
    benchmark::RegisterBenchmark((name + "/memcpy").c_str(), Memcpy, kind);
    benchmark::RegisterBenchmark((name + "/assemble").c_str(), Driver, kind, Work::kAssemble);
    benchmark::RegisterBenchmark((name + "/decode").c_str(), Driver, kind, Work::kDecode);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
