// A whole 600 dpi colour page through LD_ReadScan, with the stream served from memory (see
// replay_session.h), against a memcpy of the page's finished bytes. Two pages: a letter
// page (8.5 x 11 in: 5100 pixels, 6600 lines) and the same width over the longest window
// the driver takes (11.7 in, 7020 lines). One iteration reads the whole page into the
// application's buffer, in one call or, as applications tend to, in strips of 64 lines;
// the scan simply runs on from page to page.
//
// Counters of the read rows:
//   page_cpu_ms   driver CPU time for one page (the replay device's copies included);
//   x_memcpy      that time over the memcpy row's for the same bytes;
//   usb_s         seconds the page's stream takes on full-speed USB (1,216,000 bytes a s);
//   cpu_of_usb_pct  page_cpu_ms as a percentage of usb_s: the share of the scan's time
//                 that the driver's own work would take on a real bus;
//   net_cpu_of_usb_pct  the same without the replay device's copies.
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

namespace {

constexpr double kUsbBytesPerSecond = 1216000.0;
constexpr uint32_t kPagePixels = 5100;  // 8.5 in at 600 dpi

struct Page {
  const char* name;
  uint32_t lines;
  uint32_t linesPerCall;
};

constexpr Page kPages[] = {
    {"letter_600dpi_colour", 6600, 6600},
    {"letter_600dpi_colour_64_lines_a_call", 6600, 64},
    {"longest_600dpi_colour", 7020, 7020},
};

bench::ReplaySession* Session(benchmark::State& state) {
  std::string error;
  bench::ReplaySession* session = bench::SharedSession(&error);
  if (session == nullptr) state.SkipWithError(error.c_str());
  return session;
}

size_t PageBytes(const Page& page) {
  return static_cast<size_t>(bench::OutputLineBytes(bench::WideRequest(kModeColour, 600, kPagePixels))) * page.lines;
}

// Keyed by the page's byte count.
std::map<size_t, double>& MemcpySecondsPerPage() {
  static std::map<size_t, double> figures;
  return figures;
}

void Memcpy(benchmark::State& state, Page page) {
  size_t bytes = PageBytes(page);
  MemcpySecondsPerPage()[bytes] = bench::TimedMemcpy(state, bytes);
}

void ReadPage(benchmark::State& state, Page page) {
  bench::ReplaySession* session = Session(state);
  if (session == nullptr) return;
  if (!session->Start(bench::WideRequest(kModeColour, 600, kPagePixels))) {
    state.SkipWithError(session->error().c_str());
    return;
  }
  size_t bytes = static_cast<size_t>(scanSettings.outputLineBytes) * page.lines;
  double streamBytes = static_cast<double>(chipSetup.lineBytesAll) * page.lines;
  std::vector<uint8_t> buffer(bytes, 0);
  bench::ReplayDevice& replay = session->replay();
  replay.timeCopies = true;

  double start = bench::ThreadCpuSeconds();
  size_t lineBytes = scanSettings.outputLineBytes;
  for (auto _ : state) {
    bool failed = false;
    for (uint32_t line = 0; line < page.lines && !failed; line += page.linesPerCall) {
      uint32_t count = page.lines - line < page.linesPerCall ? page.lines - line : page.linesPerCall;
      failed = LD_ReadScan(buffer.data() + line * lineBytes, count) != 1;
    }
    if (failed) {
      state.SkipWithError("LD_ReadScan failed");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  double seconds = (bench::ThreadCpuSeconds() - start) / state.iterations();
  double copySeconds = static_cast<double>(replay.copyNanos) * 1e-9 / state.iterations();
  replay.timeCopies = false;
  if (replay.unexpected != 0) state.SkipWithError("the driver made calls a scan read does not make");

  double usbSeconds = streamBytes / kUsbBytesPerSecond;
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
  state.counters["page_cpu_ms"] = seconds * 1e3;
  state.counters["usb_s"] = usbSeconds;
  state.counters["cpu_of_usb_pct"] = 100.0 * seconds / usbSeconds;
  state.counters["net_cpu_of_usb_pct"] = 100.0 * (seconds - copySeconds) / usbSeconds;
  auto memcpyFigure = MemcpySecondsPerPage().find(bytes);
  if (memcpyFigure != MemcpySecondsPerPage().end()) {
    state.counters["x_memcpy"] = seconds / memcpyFigure->second;
    state.counters["x_memcpy_net"] = (seconds - copySeconds) / memcpyFigure->second;
  }
  session->Stop();
}

}  // namespace

int main(int argc, char** argv) {
  for (const Page& page : kPages) {
    std::string name = page.name;
    // A page read in strips is compared with the memcpy row of the same page read whole.
    if (page.linesPerCall == page.lines) {
      benchmark::RegisterBenchmark((name + "/memcpy").c_str(), Memcpy, page)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark((name + "/read").c_str(), ReadPage, page)->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
