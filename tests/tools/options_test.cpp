// Command-line parsing of lumetra-scan: accepted spellings, defaults of the window, and
// every kind of bad option refused with a message that names it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tools/scan_options.h"

using lumetra::Channel;
using lumetra::DeviceLimits;
using lumetra::ImageFormat;
using lumetra::Options;
using lumetra::ParseOptions;
using lumetra::ParseResult;
using lumetra::ScanMode;

namespace {

ParseResult Parse(std::vector<std::string> args) { return ParseOptions(args, DeviceLimits{}); }

TEST(ScanOptions, DefaultsScanTheWholeGlassInColourAt300DpiToStandardOutput) {
  ParseResult r = Parse({});
  ASSERT_TRUE(r.ok) << r.error;
  const Options& o = r.options;
  EXPECT_EQ(o.action, Options::Action::Scan);
  EXPECT_EQ(o.mode, ScanMode::Color);
  EXPECT_EQ(o.resolution, 300);
  EXPECT_EQ(o.channel, Channel::Green);
  EXPECT_DOUBLE_EQ(o.leftMm, 0);
  EXPECT_DOUBLE_EQ(o.topMm, 0);
  EXPECT_DOUBLE_EQ(o.widthMm, 215.9);
  EXPECT_DOUBLE_EQ(o.heightMm, 297.18);
  EXPECT_EQ(o.format, ImageFormat::Pnm);
  EXPECT_TRUE(o.outputPath.empty());
  EXPECT_FALSE(o.progress);
  EXPECT_FALSE(o.virtualScannerOptions);
}

struct GoodCase {
  std::vector<std::string> args;
  std::function<bool(const Options&)> check;
  const char* what;
};

TEST(ScanOptions, AcceptsScanimageSpellings) {
  const GoodCase cases[] = {
      {{"--mode", "Gray"}, [](const Options& o) { return o.mode == ScanMode::Gray; }, "--mode Gray"},
      {{"--mode=lineart"}, [](const Options& o) { return o.mode == ScanMode::Lineart; }, "--mode=, any case"},
      {{"--mode", "Colour"}, [](const Options& o) { return o.mode == ScanMode::Color; }, "Colour"},
      {{"--resolution", "100"}, [](const Options& o) { return o.resolution == 100; }, "lowest resolution"},
      {{"--resolution=600"}, [](const Options& o) { return o.resolution == 600; }, "highest resolution"},
      {{"--channel", "BLUE"}, [](const Options& o) { return o.channel == Channel::Blue; }, "channel"},
      {{"-l", "10", "-t", "20.5", "-x", "30", "-y", "40"},
       [](const Options& o) { return o.leftMm == 10 && o.topMm == 20.5 && o.widthMm == 30 && o.heightMm == 40; },
       "geometry, separate values"},
      {{"-l10", "-x5"}, [](const Options& o) { return o.leftMm == 10 && o.widthMm == 5; }, "attached values"},
      {{"-l", "100"}, [](const Options& o) { return o.widthMm == 215.9 - 100; }, "width defaults to the rest"},
      {{"-t", "97.18"}, [](const Options& o) { return o.heightMm == 297.18 - 97.18; }, "height defaults to the rest"},
      {{"-x", "215.9", "-y", "297.18"}, [](const Options& o) { return o.widthMm == 215.9; }, "the full glass"},
      {{"-o", "scan.PNG"}, [](const Options& o) { return o.format == ImageFormat::Png && o.outputPath == "scan.PNG"; },
       "format from extension"},
      {{"--output-file=a.tif"}, [](const Options& o) { return o.format == ImageFormat::Tiff; }, "long output option"},
      {{"--format", "png", "-o", "a.tiff"}, [](const Options& o) { return o.format == ImageFormat::Png; },
       "--format wins over the extension"},
      {{"-p"}, [](const Options& o) { return o.progress; }, "-p"},
      {{"-pL"}, [](const Options& o) { return o.progress && o.action == Options::Action::ListDevices; },
       "grouped flags"},
      {{"--help"}, [](const Options& o) { return o.action == Options::Action::Help; }, "--help"},
      {{"-V"}, [](const Options& o) { return o.action == Options::Action::Version; }, "-V"},
      {{"--document", "page.png", "--variant", "2"},
       [](const Options& o) { return o.documentPath == "page.png" && o.variant == 2 && o.virtualScannerOptions; },
       "virtual scanner options"},
  };
  for (const auto& c : cases) {
    ParseResult r = Parse(c.args);
    ASSERT_TRUE(r.ok) << c.what << ": " << r.error;
    EXPECT_TRUE(c.check(r.options)) << c.what;
  }
}

TEST(ScanOptions, RefusesBadOptionsWithAMessageNamingThem) {
  struct BadCase {
    std::vector<std::string> args;
    const char* inMessage;
  };
  const BadCase cases[] = {
      {{"--colour"}, "--colour"},
      {{"-q"}, "-q"},
      {{"scan.png"}, "scan.png"},
      {{"--resolution", "99"}, "outside 100..600"},
      {{"--resolution", "601"}, "outside 100..600"},
      {{"--resolution", "75"}, "outside 100..600"},
      {{"--resolution", "300dpi"}, "300dpi"},
      {{"--resolution"}, "needs an argument"},
      {{"--mode", "Halftone"}, "Halftone"},
      {{"--channel", "cyan"}, "cyan"},
      {{"--format", "jpeg"}, "jpeg"},
      {{"--progress=yes"}, "takes no argument"},
      {{"-o"}, "needs an argument"},
      {{"-l", "-1"}, "outside the glass"},
      {{"-l", "215.9"}, "outside the glass"},
      {{"-t", "300"}, "outside the glass"},
      {{"-x", "0"}, "more than 0"},
      {{"-y", "-5"}, "more than 0"},
      {{"-l", "100", "-x", "116"}, "past the glass"},
      {{"-t", "200", "-y", "97.2"}, "past the glass"},
      {{"-x", "abc"}, "abc"},
      {{"-x", "nan"}, "nan"},
      {{"--variant", "3"}, "3"},
  };
  for (const auto& c : cases) {
    ParseResult r = Parse(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_FALSE(r.ok) << joined;
    EXPECT_NE(r.error.find(c.inMessage), std::string::npos) << joined << "-> " << r.error;
  }
}

TEST(ScanOptions, UnknownExtensionFallsBackToPnmWithAWarning) {
  ParseResult r = Parse({"-o", "scan.dat"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.options.format, ImageFormat::Pnm);
  EXPECT_NE(r.warning.find("scan.dat"), std::string::npos);
}

TEST(ScanOptions, LimitsComeFromTheDevice) {
  DeviceLimits small;
  small.maxResolution = 300;
  small.widthMm = 100;
  EXPECT_FALSE(ParseOptions({"--resolution", "400"}, small).ok);
  EXPECT_FALSE(ParseOptions({"-x", "101"}, small).ok);
  ParseResult r = ParseOptions({}, small);
  ASSERT_TRUE(r.ok);
  EXPECT_DOUBLE_EQ(r.options.widthMm, 100);
}

TEST(ScanOptions, FormatFromExtension) {
  struct Case {
    const char* path;
    bool known;
    ImageFormat format;
  };
  const Case cases[] = {
      {"a.pnm", true, ImageFormat::Pnm},  {"a.ppm", true, ImageFormat::Pnm},   {"a.pgm", true, ImageFormat::Pnm},
      {"a.pbm", true, ImageFormat::Pnm},  {"dir/a.Png", true, ImageFormat::Png}, {"a.TIF", true, ImageFormat::Tiff},
      {"a.tiff", true, ImageFormat::Tiff}, {"a", false, ImageFormat::Pnm},     {"dir.png/a", false, ImageFormat::Pnm},
      {"a.jpg", false, ImageFormat::Pnm},
  };
  for (const auto& c : cases) {
    ImageFormat f = ImageFormat::Pnm;
    EXPECT_EQ(lumetra::FormatFromExtension(c.path, &f), c.known) << c.path;
    if (c.known) {
      EXPECT_EQ(f, c.format) << c.path;
    }
  }
}

}  // namespace
