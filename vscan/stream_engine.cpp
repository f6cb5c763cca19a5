#include "vscan/stream_engine.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "vscan/optics.h"

namespace vscan {

namespace {

enum class LineKind { Colour, Grey, LineArt };

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int Reg16(const uint8_t* regs, int low) { return regs[low] | regs[low + 1] << 8; }

}  // namespace

struct StreamEngine::Impl {
  explicit Impl(const Config& config) : optics(config) {}

  Optics optics;
  bool running = false;

  // The transfer as the registers describe it.
  int variant = 1;
  bool twelveBit = false;
  bool corrected = false;
  bool lampOn = false;
  LineKind kind = LineKind::Colour;
  int greyColour = 1;
  int resolution = 600;
  int pixelStart = 0;
  int samples = 0;  // per colour
  uint32_t lineBytes = 0;
  uint8_t threshold = 128;

  // Motion: stream line k is captured at base + floor((k - preRoll) x advanceNum /
  // advanceDen) (600 dpi lines), until that passes endLine.
  int64_t base = 0;
  int64_t preRoll = 0;
  int64_t advanceNum = 1;
  int64_t advanceDen = 1;
  int64_t endLine = 0;

  std::vector<int> footStart, footEnd;  // sensor pixel footprint of each sample
  int coverLo = 0, coverHi = 0;         // sensor pixels any footprint covers
  bool unitFootprints = false;          // every footprint one pixel on the sensor
  Optics::PixelResponse response;
  std::vector<uint16_t> corrOffset[3], corrGain[3];  // o x 4 and g per sensor pixel
  std::vector<uint8_t> curve[3];

  // The line being delivered.
  std::vector<uint8_t> line;
  uint32_t linePos = 0;
  uint64_t next = 0;  // stream index of the next line to produce
  bool ended = false;

  // Scratch.
  std::vector<Reflectance16> refl = std::vector<Reflectance16>(kSensorPixels);
  std::vector<int> level = std::vector<int>(kSensorPixels);
  std::vector<int> sampleLevel[3];

  void configure(const ChipSnapshot& chip);
  int64_t motorLine(uint64_t k) const {
    return base + FloorDiv((static_cast<int64_t>(k) - preRoll) * advanceNum, advanceDen);
  }
  void levels(int colour, int64_t motor, std::vector<int>& out);
  bool produce();
};

void StreamEngine::Impl::configure(const ChipSnapshot& chip) {
  const uint8_t* regs = chip.regs;
  variant = chip.variant == 2 ? 2 : 1;
  twelveBit = (regs[1] & 0x04) != 0;
  corrected = (regs[1] & 0x08) && (regs[1] & 0x80);
  lampOn = chip.lampOn;

  int mode = regs[5];
  switch (mode & 0x0F) {
    case 2:
    case 4:
      kind = LineKind::Grey;
      break;
    case 8:
      kind = LineKind::LineArt;
      break;
    default:
      kind = LineKind::Colour;
      break;
  }
  switch (mode & 0xF0) {
    case 0x20: greyColour = 0; break;
    case 0x80: greyColour = 2; break;
    default: greyColour = 1; break;
  }
  // A 12-bit line always carries all three rows, the calibration format.
  if (twelveBit) kind = LineKind::Colour;
  threshold = static_cast<uint8_t>((regs[21] + regs[22]) / 2);

  resolution = regs[12] | (regs[13] & 0x07) << 8;
  if (resolution == 0) resolution = 600;
  pixelStart = Reg16(regs, 14) / 3;
  uint32_t perColour = static_cast<uint32_t>(Reg16(regs, 18)) + 1;
  if (twelveBit) {
    if (variant == 1) {
      lineBytes = 3 * perColour;
      samples = static_cast<int>(perColour * 2 / 3);
    } else {
      lineBytes = 3 * (perColour * 3 / 2);
      samples = static_cast<int>(perColour);
    }
  } else if (kind == LineKind::Colour) {
    lineBytes = 3 * perColour;
    samples = static_cast<int>(perColour);
  } else if (kind == LineKind::Grey) {
    lineBytes = perColour;
    samples = static_cast<int>(perColour);
  } else {
    lineBytes = perColour;
    samples = static_cast<int>(perColour * 8);
  }

  // Horizontal: sample i averages sensor pixels pixelStart + i x 600 / r up to (not
  // including) pixelStart + (i + 1) x 600 / r; at least one pixel, never past the sensor.
  footStart.resize(samples);
  footEnd.resize(samples);
  coverLo = kSensorPixels;
  coverHi = 0;
  for (int i = 0; i < samples; ++i) {
    int64_t a = pixelStart + static_cast<int64_t>(i) * 600 / resolution;
    int64_t b = pixelStart + static_cast<int64_t>(i + 1) * 600 / resolution;
    if (b <= a) b = a + 1;
    a = std::min<int64_t>(a, kSensorPixels);
    b = std::min<int64_t>(b, kSensorPixels);
    footStart[i] = static_cast<int>(a);
    footEnd[i] = static_cast<int>(b);
    if (a < b) {
      coverLo = std::min(coverLo, static_cast<int>(a));
      coverHi = std::max(coverHi, static_cast<int>(b));
    }
  }
  unitFootprints = true;
  for (int i = 0; i < samples; ++i)
    unitFootprints = unitFootprints && footEnd[i] == footStart[i] + 1;
  for (auto& s : sampleLevel) s.assign(samples, 0);

  // Motor: the line time (tripled for colour above 300 dpi) over the step period gives the
  // steps per line, full steps 1/600 inch, half steps 1/1200.
  int64_t lineTime = static_cast<int64_t>(Reg16(regs, 8)) + 1;
  if (kind == LineKind::Colour && resolution > 300) lineTime *= 3;
  int64_t stepPeriod = static_cast<int64_t>(Reg16(regs, 10)) + 1;
  bool fullStep = (regs[6] & 0x01) != 0;
  advanceNum = lineTime * (fullStep ? 2 : 1);
  advanceDen = stepPeriod * 2;

  int64_t lineStart = (regs[23] | (regs[24] & 0x3F) << 8) / 2;
  int64_t ramp = resolution < 300 ? 39 : 0;
  base = lineStart + ramp;
  endLine = Reg16(regs, 27) / 2;
  if (twelveBit) {
    preRoll = 0;  // calibration passes deliver the programmed start line first
  } else if (kind == LineKind::Colour) {
    // Ten discarded lines and the ring's fill, less the lines by which the newest (red)
    // row lags the green one.
    int ring = resolution > 300 ? 9 : resolution > 150 ? 5 : 3;
    int step = resolution > 300 ? 1 : resolution > 150 ? 2 : 4;
    preRoll = 10 + (ring - 1) - kRowLead / step;
  } else {
    preRoll = 9;
  }

  FrontEnd afe;
  for (int c = 0; c < 3; ++c) {
    afe.offset[c] = chip.afe[0x20 + c];
    afe.gain[c] = chip.afe[0x28 + c];
  }
  response = optics.response(afe, lampOn);

  // The chip's correction RAM: words g x 64 + o per pixel and colour, and the tone curves.
  // A table that never arrived reads as zeros.
  const VirtualScanner::CorrectionTable* table = chip.correction;
  bool haveTable = table && table->valid;
  for (int c = 0; c < 3; ++c) {
    corrOffset[c].assign(kSensorPixels, 0);
    corrGain[c].assign(kSensorPixels, 0);
    curve[c].assign(4096, 0);
    if (!corrected || !haveTable) continue;
    for (int k = 0; k < kSensorPixels; ++k) {
      uint16_t w = table->words[c][k];
      corrOffset[c][k] = static_cast<uint16_t>(4 * (w & 0x3F));
      corrGain[c][k] = static_cast<uint16_t>(w >> 6);
    }
    std::memcpy(curve[c].data(), table->curves[c], 4096);
  }

  line.assign(lineBytes, 0);
  linePos = lineBytes;  // nothing of a line delivered yet
  next = 0;
  ended = false;
}

// The 12-bit level of every sample of one colour row at motor position `motor`, after the
// correction when it is on, averaged over each sample's footprint.
void StreamEngine::Impl::levels(int colour, int64_t motor, std::vector<int>& out) {
  if (coverLo >= coverHi) {
    std::fill(out.begin(), out.end(), 0);
    return;
  }
  int m = static_cast<int>(std::max<int64_t>(std::min<int64_t>(motor, 1 << 20), -(1 << 20)));
  optics.reflectanceLine(colour, m, refl.data());
  const Reflectance16* r = refl.data();
  const int64_t* scale = response.scale[colour].data();
  const int64_t* bias = response.bias[colour].data();
  int* lv = level.data();
  const int64_t half = int64_t(1) << 23;
  if (corrected) {
    const uint16_t* o4 = corrOffset[colour].data();
    const uint16_t* g = corrGain[colour].data();
    for (int k = coverLo; k < coverHi; ++k) {
      int64_t raw = (r[k] * scale[k] + bias[k] + half) >> 24;
      raw = raw < 0 ? 0 : raw > 4095 ? 4095 : raw;
      int s = static_cast<int>(raw) - o4[k];
      int v = s > 0 ? (s * g[k]) >> 8 : 0;
      lv[k] = v > 4095 ? 4095 : v;
    }
  } else {
    for (int k = coverLo; k < coverHi; ++k) {
      int64_t raw = (r[k] * scale[k] + bias[k] + half) >> 24;
      lv[k] = static_cast<int>(raw < 0 ? 0 : raw > 4095 ? 4095 : raw);
    }
  }
  int* dst = out.data();
  if (unitFootprints) {
    for (int i = 0; i < samples; ++i) dst[i] = lv[footStart[i]];
    return;
  }
  for (int i = 0; i < samples; ++i) {
    int a = footStart[i], b = footEnd[i];
    if (a >= b) {
      dst[i] = 0;
      continue;
    }
    int sum = 0;
    for (int k = a; k < b; ++k) sum += lv[k];
    dst[i] = sum / (b - a);
  }
}

bool StreamEngine::Impl::produce() {
  if (ended) return false;
  int64_t motor = motorLine(next);
  if (motor > endLine) {
    ended = true;
    return false;
  }
  std::fill(line.begin(), line.end(), 0);
  uint8_t* out = line.data();
  if (twelveBit) {
    for (int c = 0; c < 3; ++c) levels(c, motor, sampleLevel[c]);
    // Two 12-bit samples in three bytes: first sample's high eight bits, its low nibble
    // with the second's high nibble, the second's low eight bits.
    size_t total = static_cast<size_t>(samples) * 3;
    size_t bytePos = 0;
    auto sampleAt = [&](size_t n) {
      return variant == 1 ? sampleLevel[n % 3][n / 3] : sampleLevel[n / samples][n % samples];
    };
    for (size_t n = 0; n < total && bytePos < lineBytes; n += 2) {
      int a = sampleAt(n);
      int b = n + 1 < total ? sampleAt(n + 1) : 0;
      out[bytePos++] = static_cast<uint8_t>(a >> 4);
      if (bytePos < lineBytes) out[bytePos++] = static_cast<uint8_t>((a & 0x0F) << 4 | b >> 8);
      if (bytePos < lineBytes && n + 1 < total) out[bytePos++] = static_cast<uint8_t>(b & 0xFF);
    }
  } else {
    auto to8 = [this](int colour, int v) {
      return corrected ? curve[colour][v] : static_cast<uint8_t>(v >> 4);
    };
    if (kind == LineKind::Colour) {
      for (int c = 0; c < 3; ++c) {
        levels(c, motor, sampleLevel[c]);
        uint8_t* run = out + static_cast<size_t>(c) * samples;
        for (int i = 0; i < samples; ++i) run[i] = to8(c, sampleLevel[c][i]);
      }
    } else if (kind == LineKind::Grey) {
      levels(greyColour, motor, sampleLevel[0]);
      for (int i = 0; i < samples; ++i) out[i] = to8(greyColour, sampleLevel[0][i]);
    } else {
      levels(greyColour, motor, sampleLevel[0]);
      for (int i = 0; i < samples; ++i) {
        if (to8(greyColour, sampleLevel[0][i]) < threshold)
          out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      }
    }
  }
  ++next;
  linePos = 0;
  return true;
}

StreamEngine::StreamEngine(const Config& config) : impl_(new Impl(config)) {}
StreamEngine::~StreamEngine() = default;

void StreamEngine::start(const ChipSnapshot& chip) {
  impl_->configure(chip);
  impl_->running = true;
}

void StreamEngine::stop() { impl_->running = false; }

bool StreamEngine::running() const { return impl_->running; }

uint32_t StreamEngine::read(uint8_t* dst, uint32_t n) {
  Impl& s = *impl_;
  if (!s.running) return 0;
  uint32_t done = 0;
  while (done < n) {
    if (s.linePos >= s.line.size()) {
      if (s.line.empty() || !s.produce()) break;
    }
    uint32_t take = std::min<uint32_t>(n - done, static_cast<uint32_t>(s.line.size()) - s.linePos);
    std::memcpy(dst + done, s.line.data() + s.linePos, take);
    s.linePos += take;
    done += take;
  }
  return done;
}

uint32_t StreamEngine::lineBytes() const { return impl_->lineBytes; }

uint32_t StreamEngine::linesProduced() const { return static_cast<uint32_t>(impl_->next); }

int64_t StreamEngine::motorLineOf(uint32_t streamLine) const { return impl_->motorLine(streamLine); }

int64_t StreamEngine::endLine() const { return impl_->endLine; }

Optics& StreamEngine::optics() { return impl_->optics; }
const Optics& StreamEngine::optics() const { return impl_->optics; }

}  // namespace vscan
