// The scanner's optics and analogue side: what the three colour rows of the 5300-pixel
// sensor see at a motor position (lid, calibration strip, glass and document), each pixel's
// response (PRNU) and dark signal, the lamp and the analogue front end's offset and gain.
//
// Vertical frame: positions are motor positions in 600 dpi lines from home, the line that the
// green row sees. Red lags four lines behind green, blue leads four lines ahead. Along the
// travel the green row sees: the lid up to line 39, the bright band 40..199, the dark band
// 200..299 (whose far end, sensor pixels 5110 and up, shows the lid), the lid to line 318,
// the glass from line 319 (document row 0) for 7020 lines, then the lid again.
//
// Horizontal: sensor pixel k sees document column kOriginPixel - k (the sensor runs right to
// left over the glass).
//
// Signal of one pixel and colour (12-bit):
//   reflectance x 2000 x PRNU x gain + dark x gain + 10 x (208 - offset code), 0..4095,
//   gain = (gain code + 2) / 4; with the lamp off the reflectance term is 0.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vscan/vscan.h"

namespace vscan {

class Document;

constexpr int kSensorPixels = 5300;
constexpr int kOriginPixel = 5200;
constexpr int kRowLead = 4;            // blue leads green, red lags green, in 600 dpi lines
constexpr int kBrightBandLine = 40;    // first line of the bright band
constexpr int kDarkBandLine = 200;     // first line of the dark band
constexpr int kDarkBandEnd = 300;      // first line past the dark band
constexpr int kDarkBandLidPixel = 5110;  // sensor pixels from here see the lid along it
constexpr int kGlassLine = 319;        // document row 0
constexpr int kGlassLines = 7020;
constexpr int kGlassColumns = kOriginPixel + 1;  // document columns the sensor can see

constexpr double kLidReflectance = 0.50;
constexpr double kBrightReflectance = 0.90;
constexpr double kDarkReflectance = 0.02;

// Reflectance in fixed point, 1/65536.
using Reflectance16 = uint16_t;
inline Reflectance16 ToReflectance16(double r) {
  double v = r * 65536.0 + 0.5;
  return static_cast<Reflectance16>(v < 0 ? 0 : v > 65535 ? 65535 : v);
}

// The analogue front end's codes, one per colour (red, green, blue).
struct FrontEnd {
  uint8_t offset[3] = {208, 208, 208};
  uint8_t gain[3] = {2, 2, 2};
};

class Optics {
 public:
  explicit Optics(const Config& config);
  ~Optics();
  Optics(const Optics&) = delete;
  Optics& operator=(const Optics&) = delete;

  // What one colour row sees along the travel, in the green row's frame.
  enum class Region { Lid, BrightBand, DarkBand, Glass };
  static Region RegionAt(int line);
  // Line seen by colour row c (0 red, 1 green, 2 blue) at motor position y.
  static int RowLine(int colour, int motorLine) { return motorLine + (colour - 1) * kRowLead; }

  // Per-pixel response and dark signal of a colour row.
  double prnu(int colour, int pixel) const { return prnu_[colour][pixel]; }
  double dark(int colour, int pixel) const { return dark_[colour][pixel]; }

  static double Gain(int code) { return (code + 2) / 4.0; }
  // The signal formula for one pixel, exactly (rounded to the nearest level, clamped).
  int rawLevel(double reflectance, int colour, int pixel, int offsetCode, int gainCode,
               bool lampOn) const;

  // Reflectance that colour row c sees at sensor pixel k at motor position y.
  double reflectance(int colour, int motorLine, int pixel) const;

  // Reflectance of the whole sensor line of one colour row at motor position y:
  // out[k] for sensor pixels k in [0, kSensorPixels).
  void reflectanceLine(int colour, int motorLine, Reflectance16* out) const;

  // A front end's setting folded with each pixel's response: raw = (r16 x scale + bias)
  // >> 24, clamped, where r16 is the reflectance in 1/65536.
  struct PixelResponse {
    std::vector<int64_t> scale[3];
    std::vector<int64_t> bias[3];
  };
  PixelResponse response(const FrontEnd& afe, bool lampOn) const;
  static int RawFromResponse(const PixelResponse& resp, int colour, int pixel,
                             Reflectance16 r) {
    int64_t acc = static_cast<int64_t>(r) * resp.scale[colour][pixel] + resp.bias[colour][pixel];
    acc = (acc + (int64_t(1) << 23)) >> 24;
    return acc < 0 ? 0 : acc > 4095 ? 4095 : static_cast<int>(acc);
  }

  const Document& document() const { return *document_; }
  // Why the configured document could not be loaded (the chart is used then); empty if it
  // was.
  const std::string& documentError() const { return documentError_; }
  // Paper around and beyond the document.
  Reflectance16 paper() const { return lut_[255]; }

 private:
  struct RowCache;
  const Reflectance16* documentRow(int colour, int docRow) const;

  std::unique_ptr<Document> document_;
  std::string documentError_;
  std::vector<double> prnu_[3];
  std::vector<double> dark_[3];
  Reflectance16 lut_[256];
  std::unique_ptr<RowCache> cache_;
};

}  // namespace vscan
