// The virtual scanner's sample stream: calibration lines in both variants' orders, what a
// power-on calibration finds on the strip, the motor's advance per line, the pre-roll and
// the end of a scan, horizontal sampling, the chip's correction and line art.
#include "vscan/stream_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "vscan/optics.h"

namespace {

using vscan::ChipSnapshot;
using vscan::Config;
using vscan::StreamEngine;
using Table = vscan::VirtualScanner::CorrectionTable;

// The chip's registers as the driver programs them for a pass or a scan.
struct ChipPlan {
  int variant = 1;
  uint8_t mode = 0x01;  // register 5
  bool twelveBit = false;
  bool corrected = false;
  int resolution = 600;
  int pixelStart = 0;
  int pixelEnd = 5300;
  int lineBytes = 5300;  // per colour
  int lineStart = 0;
  int lineCount = 100;
  int linePeriod = 5400;
  int stepPeriod = 8100;
  bool fullStep = false;
  uint8_t offset[3] = {208, 208, 208};
  uint8_t gain[3] = {2, 2, 2};
  bool lampOn = true;
  uint8_t reg21 = 0x90, reg22 = 0x70;
};

ChipSnapshot Snapshot(const ChipPlan& s, const Table* table = nullptr) {
  ChipSnapshot chip;
  chip.variant = s.variant;
  uint8_t* r = chip.regs;
  auto pair = [r](int low, uint32_t v) {
    r[low] = static_cast<uint8_t>(v);
    r[low + 1] = static_cast<uint8_t>(v >> 8);
  };
  r[1] = static_cast<uint8_t>((s.twelveBit ? 0x04 : 0) | (s.corrected ? 0x88 : 0));
  r[5] = s.mode;
  r[6] = s.fullStep ? 0x01 : 0x00;
  pair(8, s.linePeriod - 1);
  pair(10, s.stepPeriod - 1);
  r[12] = static_cast<uint8_t>(s.resolution);
  r[13] = static_cast<uint8_t>((s.resolution >> 8) & 0x07);
  pair(14, s.pixelStart * 3);
  pair(16, s.pixelEnd * 3 - 1);
  pair(18, s.lineBytes - 1);
  r[21] = s.reg21;
  r[22] = s.reg22;
  pair(23, s.lineStart * 2);
  r[24] &= 0x3F;
  pair(25, s.lineStart * 2);
  r[26] &= 0x3F;
  pair(27, (s.lineStart + s.lineCount) * 2);
  for (int c = 0; c < 3; ++c) {
    chip.afe[0x20 + c] = s.offset[c];
    chip.afe[0x28 + c] = s.gain[c];
  }
  chip.lampOn = s.lampOn;
  chip.correction = table;
  return chip;
}

// A calibration pass: full width, 600 dpi, 12-bit, no correction, the driver's periods.
ChipPlan CalibrationPass(int variant, int lineStart, int lineCount) {
  ChipPlan s;
  s.variant = variant;
  s.twelveBit = true;
  s.lineBytes = variant == 1 ? 7950 : 5300;
  s.lineStart = lineStart;
  s.lineCount = lineCount;
  for (auto& o : s.offset) o = 192;
  return s;
}

// A scan window: `samples` per colour from sensor pixel `pixelStart`.
ChipPlan Scan(uint8_t mode, int resolution, int pixelStart, int samples, int lineStart,
           int lineCount) {
  ChipPlan s;
  s.mode = mode;
  s.resolution = resolution;
  s.pixelStart = pixelStart;
  s.pixelEnd = pixelStart + samples * 600 / resolution;
  s.lineBytes = (mode & 0x0F) == 8 ? (samples - 1) / 8 + 1 : samples;
  s.lineStart = lineStart;
  s.lineCount = lineCount;
  bool colour = (mode & 0x0F) == 1;
  // The driver's motor table (variant 1).
  if (resolution <= 150) {
    s.stepPeriod = 1350;
    s.fullStep = true;
  } else if (resolution <= 300) {
    s.stepPeriod = 2700;
    s.fullStep = true;
  } else {
    s.stepPeriod = colour ? 8100 : (mode & 0x0F) == 8 ? 2700 : 5400;
    s.fullStep = !colour && (mode & 0x0F) != 8;
  }
  for (auto& g : s.gain) g = 5;
  return s;
}

// Unpacks a 12-bit line into three planes of `pixels` samples, by the variant's order.
void Unpack12(const uint8_t* line, int variant, int pixels, std::vector<int> planes[3]) {
  int total = 3 * pixels;
  std::vector<int> seq(total);
  for (int n = 0; n < total; n += 2) {
    const uint8_t* b = line + 3 * (n / 2);
    seq[n] = b[0] * 16 + (b[1] >> 4);
    if (n + 1 < total) seq[n + 1] = (b[1] & 0x0F) * 256 + b[2];
  }
  for (int c = 0; c < 3; ++c) planes[c].assign(pixels, 0);
  for (int n = 0; n < total; ++n) {
    if (variant == 1)
      planes[n % 3][n / 3] = seq[n];
    else
      planes[n / pixels][n % pixels] = seq[n];
  }
}

std::vector<std::vector<uint8_t>> ReadLines(StreamEngine& engine, int count) {
  std::vector<std::vector<uint8_t>> lines;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> line(engine.lineBytes());
    EXPECT_EQ(engine.read(line.data(), engine.lineBytes()), engine.lineBytes()) << "line " << i;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string WritePnm(const std::string& name, int width, int height, bool colour,
                     const std::vector<uint8_t>& data) {
  std::string path = ::testing::TempDir() + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fprintf(f, "P%c\n%d %d\n255\n", colour ? '6' : '5', width, height);
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
  return path;
}

// --- calibration lines --------------------------------------------------------------------

TEST(StreamCalibration, LinesCarryEachPixelsLevelInTheVariantsOrder) {
  for (int variant : {1, 2}) {
    for (bool lamp : {true, false}) {
      SCOPED_TRACE(testing::Message() << "variant " << variant << " lamp " << lamp);
      StreamEngine engine{Config{}};
      ChipPlan s = CalibrationPass(variant, 100, 4);  // in the bright band for all three rows
      s.offset[0] = 192;                           // different levels per colour, so that a
      s.offset[1] = 150;                           // colour swap shows
      s.offset[2] = 100;
      s.lampOn = lamp;
      engine.start(Snapshot(s));
      ASSERT_EQ(engine.lineBytes(), 23850u);
      std::vector<uint8_t> line(23850);
      ASSERT_EQ(engine.read(line.data(), 23850), 23850u);
      std::vector<int> planes[3];
      Unpack12(line.data(), variant, 5300, planes);
      const vscan::Optics& optics = engine.optics();
      int worst = 0;
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 5300; ++k)
          worst = std::max(worst, std::abs(planes[c][k] - optics.rawLevel(0.90, c, k, s.offset[c],
                                                                          2, lamp)));
      EXPECT_LE(worst, 1);
    }
  }
}

TEST(StreamCalibration, PairPackingOfTheFirstBytes) {
  // Same pass on both variants: variant 1 starts R0 G0 | B0 R1, variant 2 R0 R1 and its
  // green plane starts at byte 7950.
  std::vector<uint8_t> lines[3];
  for (int variant : {1, 2}) {
    StreamEngine engine{Config{}};
    engine.start(Snapshot(CalibrationPass(variant, 100, 1)));
    lines[variant].resize(23850);
    ASSERT_EQ(engine.read(lines[variant].data(), 23850), 23850u);
  }
  auto first = [](const uint8_t* b) { return b[0] * 16 + (b[1] >> 4); };
  auto second = [](const uint8_t* b) { return (b[1] & 0x0F) * 256 + b[2]; };
  const uint8_t* v1 = lines[1].data();
  const uint8_t* v2 = lines[2].data();
  EXPECT_EQ(first(v1), first(v2));                // R0
  EXPECT_EQ(second(v1 + 3), second(v2));          // R1
  EXPECT_EQ(second(v1), first(v2 + 7950));        // G0
  EXPECT_EQ(first(v1 + 3), first(v2 + 2 * 7950)); // B0
}

// A 400-line pass from line 0, searched by the power-on calibration's rules, finds the strip
// at 204 and the right edge at 5200.
TEST(StreamCalibration, PowerOnSearchFindsTheStrip) {
  for (int variant : {1, 2}) {
    SCOPED_TRACE(testing::Message() << "variant " << variant);
    StreamEngine engine{Config{}};
    engine.start(Snapshot(CalibrationPass(variant, 0, 400)));
    std::vector<int> planes[3];
    std::vector<std::vector<int>> green(400);   // level (sample / 16) lines x pixels
    std::vector<std::vector<int>> raw[3];
    for (auto& r : raw) r.resize(400);
    std::vector<uint8_t> line(23850);
    for (int i = 0; i < 400; ++i) {
      ASSERT_EQ(engine.read(line.data(), 23850), 23850u);
      Unpack12(line.data(), variant, 5300, planes);
      for (int c = 0; c < 3; ++c) raw[c][i] = planes[c];
    }
    auto level = [&](int i, int k) { return raw[1][i][k] / 16; };

    int n = 0, i = 5;
    for (; i < 400; ++i) {
      n = level(i, 2550) <= 100 ? 0 : n + 1;
      if (n == 5) break;
    }
    ASSERT_LT(i, 400) << "no bright run";
    EXPECT_EQ(i, 44);
    n = 0;
    for (; i < 400; ++i) {
      n = level(i, 2550) >= 70 ? 0 : n + 1;
      if (n == 5) break;
    }
    ASSERT_LT(i, 400) << "no dark run";
    const int s = i;
    EXPECT_EQ(s, 204);
    const int darkLine = s + 29, whiteLine = s - 55;

    int sum = 0;
    for (int l = darkLine; l < darkLine + 10; ++l) sum += level(l, 2550);
    int t = static_cast<uint8_t>(sum / 10);
    if (t <= 70) t *= 2;
    int m = 0, j = 5000;
    for (; j < 5300; ++j) {
      m = level(darkLine, j) <= t ? 0 : m + 1;
      if (m > 10) break;
    }
    EXPECT_EQ(j < 5300 ? j + 80 : 5280, 5200);

    // The white reference's lines lie in the bright band for all three rows, the dark
    // reference's in the dark band, at pixels well inside the sensor.
    for (int c = 0; c < 3; ++c) {
      for (int l = whiteLine; l < whiteLine + 24; ++l) EXPECT_GT(raw[c][l][2950] / 16, 100) << l;
      for (int l = darkLine; l < darkLine + 24; ++l) EXPECT_LT(raw[c][l][2950] / 16, 70) << l;
    }
  }
}

// --- motion ---------------------------------------------------------------------------------

// Advance per line, in 1/600 inch, over the driver's band and mode table; a wrong step
// period moves the carriage by another amount.
TEST(StreamMotion, AdvancePerLineFollowsLineTimeAndStepPeriod) {
  struct Case {
    uint8_t mode;
    int resolution, stepPeriod;
    bool fullStep;
    int advanceTimes2;  // over one line, in 1/1200 inch
  } cases[] = {
      {0x01, 150, 1350, true, 8},  {0x01, 300, 2700, true, 4},  {0x01, 600, 8100, false, 2},
      {0x01, 100, 675, false, 8},  {0x01, 200, 1350, false, 4}, {0x01, 400, 8100, false, 2},
      {0x42, 100, 1350, true, 8},  {0x42, 200, 2700, true, 4},  {0x42, 600, 5400, true, 2},
      {0x48, 150, 1350, true, 8},  {0x48, 300, 2700, true, 4},  {0x48, 400, 2700, false, 2},
      // Wrong step periods: stretched (smaller advance) or squashed.
      {0x01, 600, 5400, false, 3}, {0x42, 600, 2700, true, 4},  {0x42, 600, 10800, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " at " << c.resolution
                                    << " step " << c.stepPeriod);
    StreamEngine engine{Config{}};
    ChipPlan s = Scan(c.mode, c.resolution, 1000, 64, 2000, 4000);
    s.stepPeriod = c.stepPeriod;
    s.fullStep = c.fullStep;
    engine.start(Snapshot(s));
    EXPECT_EQ(engine.motorLineOf(102) - engine.motorLineOf(100), c.advanceTimes2);
    EXPECT_EQ(engine.motorLineOf(1100) - engine.motorLineOf(100), 500 * c.advanceTimes2);
  }
}

// The first line the driver delivers shows the programmed start line in all three rows: a
// document that turns from paper to ink at row 200, scanned from row 200 - 5 lines' worth,
// is paper in output rows 0 to 4 and ink from row 5, in every colour and band; red and blue
// grey lines lie 4/600 inch behind and ahead of green.
TEST(StreamMotion, PreRollAndRowAlignmentAsTheDriverAssemblesLines) {
  const int w = 64, h = 400, edge = 200;
  std::vector<uint8_t> img(w * h, 255);
  std::fill(img.begin() + edge * w, img.end(), 0);
  Config config;
  config.documentPath = WritePnm("stream_edge.pgm", w, h, false, img);
  const int pixelStart = 5200 - 60;  // sees document columns 60 down to a few

  struct Case {
    uint8_t mode;
    int resolution;
    int step, ring;        // the driver's motor advance and colour ring size at this band
    int firstInk;          // output row where ink starts
  } cases[] = {
      {0x01, 600, 1, 9, 5}, {0x01, 300, 2, 5, 5}, {0x01, 150, 4, 3, 5},
      {0x42, 600, 1, 0, 5}, {0x42, 200, 2, 0, 5}, {0x42, 100, 4, 0, 5},
      // Grey of the red row sees 4/600 inch behind green, blue 4/600 ahead.
      {0x22, 600, 1, 0, 9}, {0x82, 600, 1, 0, 1}, {0x22, 300, 2, 0, 7}, {0x82, 300, 2, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " at " << c.resolution);
    StreamEngine engine{config};
    int top = edge - 5 * c.step;
    int origin = c.resolution < 300 ? 319 - 319 / 8 : 319;  // the driver's reduced origin
    int samples = 40 * c.resolution / 600;
    engine.start(Snapshot(Scan(c.mode, c.resolution, pixelStart, samples, origin + top, 7100)));
    bool colour = (c.mode & 0x0F) == 1;
    int discard = colour ? 10 + c.ring - 1 : 9;
    auto lines = ReadLines(engine, discard + 12);
    for (int row = 0; row < 12; ++row) {
      int k = discard + row;
      std::vector<const uint8_t*> rows;
      if (colour) {
        rows.push_back(lines[k].data());                                     // red: newest
        rows.push_back(lines[k - (c.ring - 1) / 2].data() + samples);        // green
        rows.push_back(lines[k - (c.ring - 1)].data() + 2 * samples);        // blue: oldest
      } else {
        rows.push_back(lines[k].data());
      }
      for (size_t p = 0; p < rows.size(); ++p) {
        int lo = 255, hi = 0;
        for (int i = 0; i < samples; ++i) {
          lo = std::min<int>(lo, rows[p][i]);
          hi = std::max<int>(hi, rows[p][i]);
        }
        bool ink = row >= c.firstInk;
        EXPECT_TRUE(ink ? hi < 20 : lo > 150)
            << "output row " << row << " plane " << p << " levels " << lo << ".." << hi;
      }
    }
  }
}

TEST(StreamMotion, StreamEndsAfterTheLineCapturedAtTheEndLine) {
  struct Case {
    uint8_t mode;
    int resolution, lineStart, lineCount;
    uint32_t lines;
  } cases[] = {
      {0x42, 600, 1000, 20, 30},     // 9 lines of pre-roll, then lines 1000..1020
      {0x01, 150, 280, 7100, 1777},  // ramp 39, pre-roll 11, 4 lines a step: 319..7379
      {0x01, 600, 319, 100, 115},    // pre-roll 14, 319..419
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " at " << c.resolution);
    StreamEngine engine{Config{}};
    engine.start(Snapshot(Scan(c.mode, c.resolution, 2000, 32, c.lineStart, c.lineCount)));
    uint32_t lineBytes = engine.lineBytes();
    std::vector<uint8_t> buf(61440);
    uint64_t total = 0;
    uint32_t got;
    while ((got = engine.read(buf.data(), 61440)) == 61440) total += got;
    total += got;
    EXPECT_EQ(total, uint64_t(c.lines) * lineBytes);
    EXPECT_EQ(engine.linesProduced(), c.lines);
    EXPECT_EQ(engine.read(buf.data(), 10), 0u);
    EXPECT_LE(engine.motorLineOf(c.lines - 1), c.lineStart + c.lineCount);
    EXPECT_GT(engine.motorLineOf(c.lines), c.lineStart + c.lineCount);
  }
}

TEST(StreamMotion, NoDataWithoutARunningTransfer) {
  StreamEngine engine{Config{}};
  uint8_t buf[16];
  EXPECT_FALSE(engine.running());
  EXPECT_EQ(engine.read(buf, 16), 0u);
  engine.start(Snapshot(Scan(0x42, 600, 2000, 32, 1000, 100)));
  EXPECT_TRUE(engine.running());
  EXPECT_EQ(engine.read(buf, 16), 16u);
  engine.stop();
  EXPECT_EQ(engine.read(buf, 16), 0u);
  // A new start begins a fresh stream at its first line.
  engine.start(Snapshot(Scan(0x42, 600, 2000, 32, 1000, 100)));
  EXPECT_EQ(engine.linesProduced(), 0u);
}

// --- horizontal sampling ----------------------------------------------------------------------

TEST(StreamSampling, SamplesAverageTheirFootprint) {
  // Columns of varying value, so that a footprint off by a pixel shows.
  const int w = 5100, h = 8;
  std::vector<uint8_t> img(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = static_cast<uint8_t>((x * 37) % 256);
  Config config;
  config.documentPath = WritePnm("stream_columns.pgm", w, h, false, img);
  struct Case {
    int resolution, pixelStart, samples;
  } cases[] = {{600, 100, 50}, {300, 101, 25}, {200, 100, 17}, {400, 4000, 31}, {150, 5000, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.resolution << " dpi from " << c.pixelStart);
    StreamEngine engine{config};
    ChipPlan s = Scan(0x42, c.resolution, c.pixelStart, c.samples, 319 + 2, 100);
    s.lineStart = c.resolution < 300 ? 319 + 2 - 39 : 319 + 2;
    engine.start(Snapshot(s));
    auto lines = ReadLines(engine, 10);
    const std::vector<uint8_t>& line = lines[9];  // shows document row 2
    const vscan::Optics& optics = engine.optics();
    for (int i = 0; i < c.samples; ++i) {
      int a = c.pixelStart + i * 600 / c.resolution;
      int b = std::max(a + 1, c.pixelStart + (i + 1) * 600 / c.resolution);
      double sum = 0;
      for (int k = a; k < b; ++k)
        sum += optics.rawLevel(optics.reflectance(1, 319 + 2, k), 1, k, 208, 5, true);
      EXPECT_NEAR(line[i], sum / (b - a) / 16, 1.0) << "sample " << i;
    }
  }
}

// --- correction, curves, grey rows, line art ---------------------------------------------------

std::unique_ptr<Table> MakeTable(uint16_t word, int curveShift, int curveConstant = -1) {
  std::unique_ptr<Table> t(new Table);
  t->valid = true;
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < 5300; ++k) t->words[c][k] = word;
    for (int i = 0; i < 4096; ++i)
      t->curves[c][i] = static_cast<uint8_t>(curveConstant >= 0 ? curveConstant + 10 * c
                                                                 : i >> curveShift);
  }
  return t;
}

TEST(StreamCorrection, CorrectionWordsAndChipCurvesApplyWhenEnabled) {
  // The chart's uniform paper area; gain code 2, so that doubled levels do not clip.
  ChipPlan base = Scan(0x01, 600, 2000, 100, 319 + 4500, 50);
  for (auto& g : base.gain) g = 2;
  auto plainLine = [&](const ChipPlan& s, const Table* t) {
    StreamEngine engine{Config{}};
    engine.start(Snapshot(s, t));
    return ReadLines(engine, 15)[14];
  };
  std::vector<uint8_t> plain = plainLine(base, nullptr);

  ChipPlan on = base;
  on.corrected = true;
  auto identity = MakeTable(256 << 6, 4);         // g 256, o 0, curve v / 16
  auto doubled = MakeTable(512 << 6, 4);          // g 512: twice the level
  auto offsetOnly = MakeTable(256 << 6 | 63, 4);  // o 63: 252 less
  auto constant = MakeTable(256 << 6, 0, 200);    // curves 200, 210, 220

  EXPECT_EQ(plainLine(on, identity.get()), plain);
  EXPECT_EQ(plainLine(base, doubled.get()), plain);  // bits clear: table ignored
  std::vector<uint8_t> twice = plainLine(on, doubled.get());
  std::vector<uint8_t> less = plainLine(on, offsetOnly.get());
  std::vector<uint8_t> curves = plainLine(on, constant.get());
  std::vector<uint8_t> noTable = plainLine(on, nullptr);
  for (size_t i = 0; i < plain.size(); ++i) {
    int c = static_cast<int>(i / 100);
    EXPECT_NEAR(twice[i], std::min(255, 2 * plain[i]), 2) << i;
    EXPECT_NEAR(less[i], std::max(0, plain[i] - 252 / 16), 1) << i;
    EXPECT_EQ(curves[i], 200 + 10 * c) << i;
    EXPECT_EQ(noTable[i], 0) << i;  // correction on with nothing uploaded: the RAM is empty
  }
}

// The chip applies each pixel's own word: with words that cancel each pixel's response, a
// uniform page comes out flat although the raw levels vary by the PRNU.
TEST(StreamCorrection, PerPixelWordsFlattenTheResponse) {
  StreamEngine probe{Config{}};
  const vscan::Optics& optics = probe.optics();
  std::unique_ptr<Table> t(new Table);
  t->valid = true;
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < 5300; ++k) {
      int white = optics.rawLevel(0.90, c, k, 208, 5, true);
      t->words[c][k] = static_cast<uint16_t>((256 * 3000 / white) << 6);
    }
    for (int i = 0; i < 4096; ++i) t->curves[c][i] = static_cast<uint8_t>(i >> 4);
  }
  ChipPlan s = Scan(0x42, 600, 600, 4000, 319 + 4500, 50);  // the chart's uniform area
  s.corrected = true;
  StreamEngine engine{Config{}};
  engine.start(Snapshot(s, t.get()));
  auto lines = ReadLines(engine, 10);
  auto [lo, hi] = std::minmax_element(lines[9].begin(), lines[9].end());
  EXPECT_GE(*lo, 3000 / 16 - 2);
  EXPECT_LE(*hi, 3000 / 16 + 2);
}

TEST(StreamModes, GreyTakesTheChosenRow) {
  // Left part of the page pure red (red sees paper, green and blue ink), right part blue.
  const int w = 200, h = 20;
  std::vector<uint8_t> img(w * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &img[(y * w + x) * 3];
      bool red = x < 100;
      p[0] = red ? 255 : 0;
      p[1] = 0;
      p[2] = red ? 0 : 255;
    }
  Config config;
  config.documentPath = WritePnm("stream_red_blue.ppm", w, h, true, img);
  struct Case {
    uint8_t mode;
    bool redBright, blueBright;
  } cases[] = {{0x22, true, false}, {0x42, false, false}, {0x82, false, true}};
  for (const Case& c : cases) {
    StreamEngine engine{config};
    // Samples 0..19 see columns 180..161 (blue part), 100..119 see 80..61 (red part).
    engine.start(Snapshot(Scan(c.mode, 600, 5200 - 180, 120, 319 + 10, 50)));
    auto line = ReadLines(engine, 10)[9];
    EXPECT_EQ(line[110] > 100, c.redBright) << "mode " << int(c.mode);
    EXPECT_EQ(line[10] > 100, c.blueBright) << "mode " << int(c.mode);
  }
}

TEST(StreamModes, LineArtPacksEightSamplesABlackBitFirstSampleHighest) {
  // Columns 0..29 ink, the rest paper: the sensor sees them last (it runs right to left).
  const int w = 100, h = 20;
  std::vector<uint8_t> img(w * h, 255);
  for (int y = 0; y < h; ++y) std::fill(img.begin() + y * w, img.begin() + y * w + 30, 0);
  Config config;
  config.documentPath = WritePnm("stream_lineart.pgm", w, h, false, img);
  struct Case {
    uint8_t reg21, reg22;
    std::vector<uint8_t> bytes;
  } cases[] = {
      // Samples 0..63 see columns 63..0: 34..63 ink.
      {0x90, 0x70, {0x00, 0x00, 0x00, 0x00, 0x3F, 0xFF, 0xFF, 0xFF}},
      // A threshold above paper: everything black.
      {0xFF, 0xFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      // Threshold 0: nothing below it.
      {0x00, 0x00, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    ChipPlan s = Scan(0x48, 600, 5200 - 63, 64, 319 + 5, 50);
    s.reg21 = c.reg21;
    s.reg22 = c.reg22;
    StreamEngine engine{config};
    engine.start(Snapshot(s));
    EXPECT_EQ(engine.lineBytes(), 8u);
    EXPECT_EQ(ReadLines(engine, 10)[9], c.bytes) << "threshold regs " << int(c.reg21);
  }
}

TEST(StreamModes, LineSizesByModeAndVariant) {
  struct Case {
    int variant;
    bool twelveBit;
    uint8_t mode;
    int lineBytes;
    uint32_t expected;
  } cases[] = {
      {1, true, 0x01, 7950, 23850}, {2, true, 0x01, 5300, 23850}, {1, false, 0x01, 1000, 3000},
      {2, false, 0x01, 1000, 3000}, {1, false, 0x42, 1000, 1000}, {1, false, 0x48, 125, 125},
  };
  for (const Case& c : cases) {
    ChipPlan s = Scan(c.mode, 600, 100, 1000, 1000, 10);
    s.variant = c.variant;
    s.twelveBit = c.twelveBit;
    s.lineBytes = c.lineBytes;
    StreamEngine engine{Config{}};
    engine.start(Snapshot(s));
    EXPECT_EQ(engine.lineBytes(), c.expected);
    std::vector<uint8_t> buf(c.expected * 3);
    EXPECT_EQ(engine.read(buf.data(), c.expected * 3), c.expected * 3);
    EXPECT_EQ(engine.linesProduced(), 3u);
  }
}

}  // namespace
