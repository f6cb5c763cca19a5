#include "vscan/optics.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "vscan/document_image.h"

namespace vscan {

namespace {

// A small fixed generator so that every build and platform sees the same sensor.
struct SplitMix64 {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double unit() { return (next() >> 11) * (1.0 / 9007199254740992.0); }  // [0, 1)
};

}  // namespace

// Document rows turned into reflectance, a few at a time: the carriage moves one way, and the
// three colour rows revisit each document row within eight lines.
struct Optics::RowCache {
  static constexpr int kSlots = 32;
  int row[kSlots];
  std::vector<Reflectance16> refl[kSlots];  // 3 x kGlassColumns
  std::vector<uint8_t> scratch[3];
  RowCache() {
    for (int i = 0; i < kSlots; ++i) row[i] = -1;
    for (auto& s : scratch) s.resize(kGlassColumns);
  }
};

Optics::Optics(const Config& config) : cache_(new RowCache) {
  document_ = MakeDocument(config.documentPath, &documentError_);
  SplitMix64 gen{config.seed};
  for (int c = 0; c < 3; ++c) {
    prnu_[c].resize(kSensorPixels);
    dark_[c].resize(kSensorPixels);
    for (int k = 0; k < kSensorPixels; ++k) {
      prnu_[c][k] = 0.85 + 0.30 * gen.unit();
      dark_[c][k] = 5.0 + 15.0 * gen.unit();
    }
  }
  for (int v = 0; v < 256; ++v) lut_[v] = ToReflectance16(DocumentReflectance(v));
}

Optics::~Optics() = default;

Optics::Region Optics::RegionAt(int line) {
  if (line >= kBrightBandLine && line < kDarkBandLine) return Region::BrightBand;
  if (line >= kDarkBandLine && line < kDarkBandEnd) return Region::DarkBand;
  if (line >= kGlassLine && line < kGlassLine + kGlassLines) return Region::Glass;
  return Region::Lid;
}

int Optics::rawLevel(double reflectance, int colour, int pixel, int offsetCode, int gainCode,
                     bool lampOn) const {
  double g = Gain(gainCode);
  double light = lampOn ? reflectance * 2000.0 * prnu_[colour][pixel] * g : 0.0;
  double v = light + dark_[colour][pixel] * g + 10.0 * (208 - offsetCode);
  long level = std::lround(v);
  return static_cast<int>(std::min(4095L, std::max(0L, level)));
}

const Reflectance16* Optics::documentRow(int colour, int docRow) const {
  RowCache& cache = *cache_;
  int slot = docRow % RowCache::kSlots;
  if (cache.row[slot] != docRow) {
    auto& refl = cache.refl[slot];
    refl.resize(3 * kGlassColumns);
    document_->row(docRow, kGlassColumns, cache.scratch[0].data(), cache.scratch[1].data(),
                   cache.scratch[2].data());
    for (int c = 0; c < 3; ++c) {
      const uint8_t* src = cache.scratch[c].data();
      Reflectance16* dst = refl.data() + c * kGlassColumns;
      for (int x = 0; x < kGlassColumns; ++x) dst[x] = lut_[src[x]];
    }
    cache.row[slot] = docRow;
  }
  return cache.refl[slot].data() + colour * kGlassColumns;
}

void Optics::reflectanceLine(int colour, int motorLine, Reflectance16* out) const {
  int line = RowLine(colour, motorLine);
  switch (RegionAt(line)) {
    case Region::Lid:
      std::fill(out, out + kSensorPixels, ToReflectance16(kLidReflectance));
      return;
    case Region::BrightBand:
      std::fill(out, out + kSensorPixels, ToReflectance16(kBrightReflectance));
      return;
    case Region::DarkBand:
      std::fill(out, out + kDarkBandLidPixel, ToReflectance16(kDarkReflectance));
      std::fill(out + kDarkBandLidPixel, out + kSensorPixels, ToReflectance16(kLidReflectance));
      return;
    case Region::Glass: {
      const Reflectance16* row = documentRow(colour, line - kGlassLine);
      // Pixel k sees column kOriginPixel - k; past column 0 the glass shows paper.
      for (int k = 0; k <= kOriginPixel; ++k) out[k] = row[kOriginPixel - k];
      std::fill(out + kOriginPixel + 1, out + kSensorPixels, paper());
      return;
    }
  }
}

double Optics::reflectance(int colour, int motorLine, int pixel) const {
  Reflectance16 line[kSensorPixels];
  reflectanceLine(colour, motorLine, line);
  return line[pixel] / 65536.0;
}

Optics::PixelResponse Optics::response(const FrontEnd& afe, bool lampOn) const {
  PixelResponse resp;
  for (int c = 0; c < 3; ++c) {
    double g = Gain(afe.gain[c]);
    double base = 10.0 * (208 - afe.offset[c]);
    resp.scale[c].resize(kSensorPixels);
    resp.bias[c].resize(kSensorPixels);
    for (int k = 0; k < kSensorPixels; ++k) {
      // r16 x scale in 1/2^24: scale = 2000 x PRNU x gain x 2^8.
      resp.scale[c][k] = lampOn ? std::llround(2000.0 * prnu_[c][k] * g * 256.0) : 0;
      resp.bias[c][k] = std::llround((dark_[c][k] * g + base) * 16777216.0);
    }
  }
  return resp;
}

}  // namespace vscan
