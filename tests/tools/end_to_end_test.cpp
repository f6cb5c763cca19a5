// The whole of lumetra-scan on the virtual scanner: images of the test chart read back
// with their own libraries at the right size and resolution, line art that agrees with a
// grey scan of the same window, a document of one's own on the glass, image data on
// standard output of the command, and failures (bad options, driver faults) reported
// with the right exit status and the driver's status in words. Every run must leave the
// scanner protocol clean and nothing of the driver held.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <png.h>
#include <tiffio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver/interface/device_state.h"
#include "image_readback.h"
#include "tests/support/driver_fixture.h"
#include "platform/win32.h"
#include "tools/lumetra_scan.h"
#include "tools/virtual_device.h"

namespace {

using readback::Slurp;

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    ResetDriverAndHost();
    messages_ = std::tmpfile();
    image_ = std::tmpfile();
    env_.messages = messages_;
    env_.imageOut = image_;
    env_.infoOut = image_;
    Tweak({});
    dir_ = testing::TempDir() + "lumetra_e2e_" + std::to_string(getpid()) + "_";
  }

  void TearDown() override {
    host::ClearMemoryFaults();
    EXPECT_TRUE(violations_.empty()) << "protocol violations: " << violations_.size() << ", first: "
                                     << (violations_.empty() ? "" : violations_.front());
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u) << "memory blocks left live";
    EXPECT_EQ(host::ModuleReferences("sti.dll"), 0) << "still-image library left loaded";
    EXPECT_EQ(host::ComBalance(), 0) << "COM initialisation not balanced";
    ResetDriverState();
    std::fclose(messages_);
    std::fclose(image_);
    for (const auto& p : made_) std::remove(p.c_str());
  }

  // tweak sees each run's scanner before the driver does.
  void Tweak(std::function<void(vscan::VirtualScanner&)> tweak) {
    lumetra::UseVirtualScanner(&env_, std::move(tweak));
    auto detach = env_.detachDevice;
    env_.detachDevice = [this, detach] {
      if (vscan::VirtualScanner* s = lumetra::CurrentVirtualScanner()) {
        for (const auto& v : s->violations()) violations_.push_back(v);
        rawReads_ = s->count(vscan::Op::RawRead);
      }
      detach();
    };
  }

  int Run(std::vector<std::string> args) {
    std::fclose(messages_);
    messages_ = std::tmpfile();
    env_.messages = messages_;
    return lumetra::RunLumetraScan(args, env_);
  }
  std::string Messages() { return Slurp(messages_); }
  std::string Path(const std::string& name) {
    made_.push_back(dir_ + name);
    return made_.back();
  }

  lumetra::RunEnvironment env_;
  FILE* messages_ = nullptr;
  FILE* image_ = nullptr;
  std::string dir_;
  std::vector<std::string> made_;
  std::vector<std::string> violations_;
  uint64_t rawReads_ = 0;
};

// Darkest and lightest grey or green level of an 8-bit image.
std::pair<int, int> Range(const readback::Image& img) {
  int lo = 255, hi = 0;
  for (const auto& row : img.rows)
    for (size_t i = img.channels == 3 ? 1 : 0; i < row.size(); i += img.channels) {
      lo = std::min<int>(lo, row[i]);
      hi = std::max<int>(hi, row[i]);
    }
  return {lo, hi};
}

TEST_F(EndToEnd, ChartAsPngAndTiffWithSizeAndResolution) {
  struct Case {
    std::vector<std::string> args;
    const char* file;
    uint32_t width, height;
    int channels;
    double dpi;
  };
  const Case cases[] = {
      // 100 x 60 mm at 150 dpi: 590.6 x 354.3 pixels.
      {{"--mode", "Color", "--resolution", "150", "-x", "100", "-y", "60"}, "chart.png", 591, 354, 3, 150},
      {{"--mode", "Color", "--resolution", "300", "-x", "40", "-y", "30", "--variant", "2"}, "v2.png", 472, 354, 3,
       300},
      // A resolution the motor does not run at, and the format named instead of implied.
      {{"--mode", "Gray", "--resolution", "200", "-l", "10", "-t", "15", "-x", "80", "-y", "50", "--format", "tiff"},
       "chart.out", 630, 394, 1, 200},
      {{"--mode", "Color", "--resolution", "100", "--channel", "red"}, "page.tif", 850, 1170, 3, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = Path(c.file);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", path});
    ASSERT_EQ(Run(args), 0) << Messages();
    bool tiff = std::string(c.file).find(".png") == std::string::npos;
    readback::Image img = tiff ? readback::ReadTiff(path) : readback::ReadPng(path);
    ASSERT_TRUE(img.ok) << img.error;
    EXPECT_EQ(img.width, c.width);
    EXPECT_EQ(img.height, c.height);
    EXPECT_EQ(img.channels, c.channels);
    EXPECT_EQ(img.bitDepth, 8);
    EXPECT_NEAR(img.dpiX, c.dpi, 0.05);  // PNG: whole pixels per metre
    EXPECT_NEAR(img.dpiY, c.dpi, 0.05);
    if (tiff) {
      EXPECT_EQ(img.photometric, c.channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    }
    // The chart's marks on its paper: ink and paper both in the picture.
    auto [lo, hi] = Range(img);
    EXPECT_LT(lo, 60);
    EXPECT_GT(hi, 180);
  }
}

TEST_F(EndToEnd, LineArtIsOneBitAndAgreesWithGreyOfTheSameWindow) {
  // Grey below the chip's threshold (the mean of 0x70 and 0x90) is black in line art.
  const std::vector<std::string> window = {"--resolution", "300", "-l", "5", "-t", "10", "-x", "61", "-y", "40"};
  std::string greyPath = Path("grey.pgm");
  std::vector<std::string> args = window;
  args.insert(args.end(), {"--mode", "Gray", "-o", greyPath});
  ASSERT_EQ(Run(args), 0) << Messages();
  readback::Image grey = readback::ReadPnmFile(greyPath);
  ASSERT_TRUE(grey.ok) << grey.error;

  for (const char* file : {"art.png", "art.tiff", "art.pbm"}) {
    SCOPED_TRACE(file);
    std::string path = Path(file);
    args = window;
    args.insert(args.end(), {"--mode", "Lineart", "-o", path});
    ASSERT_EQ(Run(args), 0) << Messages();
    std::string f = file;
    readback::Image art = f.find(".png") != std::string::npos    ? readback::ReadPng(path)
                          : f.find(".tiff") != std::string::npos ? readback::ReadTiff(path)
                                                                 : readback::ReadPnmFile(path);
    ASSERT_TRUE(art.ok) << art.error;
    EXPECT_EQ(art.bitDepth, 1);
    EXPECT_EQ(art.width, grey.width);
    EXPECT_EQ(art.height, grey.height);
    uint32_t black = 0, disagree = 0;
    for (uint32_t y = 0; y < art.height; ++y)
      for (uint32_t x = 0; x < art.width; ++x) {
        bool b = art.Black(x, y);
        bool dark = grey.rows[y][x] < 0x80;
        black += b;
        disagree += b != dark;
      }
    // Enough ink to tell a shifted or inverted image from a right one.
    EXPECT_GT(black, art.width * art.height / 100);
    EXPECT_LT(disagree, black / 50) << "of " << black << " black pixels";
  }
}

// A 300 dpi white page with a black block 10..30 mm from the left, 5..15 mm from the top.
void WriteDocument(const std::string& path) {
  const int w = 354, h = 236;  // 30 x 20 mm
  FILE* f = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, 11811, 11811, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  std::vector<uint8_t> row(w);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) row[x] = (x >= 118 && y >= 59 && y < 177) ? 0 : 255;
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

TEST_F(EndToEnd, DocumentOnTheGlass) {
  std::string doc = Path("doc.png");
  WriteDocument(doc);
  std::string out = Path("doc-scan.pgm");
  ASSERT_EQ(Run({"--document", doc, "--mode", "Gray", "--resolution", "150", "-x", "40", "-y", "25", "-o", out}), 0)
      << Messages();
  readback::Image img = readback::ReadPnmFile(out);
  ASSERT_TRUE(img.ok) << img.error;
  auto at = [&](double xMm, double yMm) {
    return img.rows[static_cast<int>(yMm * 150 / 25.4)][static_cast<int>(xMm * 150 / 25.4)];
  };
  EXPECT_LT(at(20, 10), 60);  // inside the block
  EXPECT_GT(at(5, 10), 150);  // left of it
  EXPECT_GT(at(20, 2), 150);  // above it
  EXPECT_GT(at(35, 20), 150); // beyond the document: paper

  // A document that is no image is refused before anything is scanned, not replaced by
  // the built-in chart.
  std::string bad = Path("not-an-image.png");
  FILE* f = std::fopen(bad.c_str(), "wb");
  std::fputs("hello", f);
  std::fclose(f);
  EXPECT_EQ(Run({"--document", bad, "-o", Path("unused.png")}), 2);
  EXPECT_NE(Messages().find("not-an-image.png"), std::string::npos) << Messages();
  EXPECT_EQ(Run({"--document", dir_ + "missing.png"}), 2);
}

TEST_F(EndToEnd, DriverFailuresReportTheStatusInWords) {
  // The device gone: the open fails.
  Tweak([](vscan::VirtualScanner& s) { s.vanish(); });
  EXPECT_EQ(Run({"-o", Path("gone.png")}), 1);
  EXPECT_NE(Messages().find("LD_OpenScanner) failed: device not open or open failed [status 1]"),
            std::string::npos)
      << Messages();

  // No memory for the 1 MiB stream buffer.
  Tweak({});
  host::FailGlobalAllocOfSize(0x100000);
  EXPECT_EQ(Run({"--mode", "Gray", "--resolution", "150", "-x", "20", "-y", "20", "-o", Path("mem.png")}), 1);
  host::ClearMemoryFaults();
  EXPECT_NE(Messages().find("failed: out of memory [status 2]"), std::string::npos) << Messages();

  // A bulk read failing near the end of the image: count the reads of a good run, then
  // fail the second-to-last one of the same run.
  const std::vector<std::string> scan = {"--mode", "Color", "--resolution", "300", "-x", "50", "-y", "40"};
  std::vector<std::string> args = scan;
  args.insert(args.end(), {"-o", Path("good.png")});
  ASSERT_EQ(Run(args), 0) << Messages();
  uint64_t reads = rawReads_;
  ASSERT_GT(reads, 2u);
  Tweak([reads](vscan::VirtualScanner& s) { s.failFrom(vscan::Op::RawRead, reads - 2); });
  std::string failed = Path("failed.png");
  args = scan;
  args.insert(args.end(), {"-o", failed});
  EXPECT_EQ(Run(args), 1);
  EXPECT_NE(Messages().find("LD_ReadScan) failed: data transfer failed [status 5]"), std::string::npos)
      << Messages();
  struct stat st;
  EXPECT_NE(stat(failed.c_str(), &st), 0) << "a half-written image was left behind";
}

// --- the command itself -------------------------------------------------------------

struct Command {
  int status = -1;
  std::string out, err;
};

Command RunCommand(const std::string& args, const std::string& scratch) {
  std::string outFile = scratch + "cmd.out", errFile = scratch + "cmd.err";
  // In a subshell, so that a pipe inside args still has the program's messages caught.
  std::string line = "(" + std::string(LUMETRA_SCAN_EXE) + " " + args + ") >" + outFile + " 2>" + errFile + " </dev/null";
  int raw = std::system(line.c_str());
  Command c;
  c.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto out = readback::ReadFileBytes(outFile), err = readback::ReadFileBytes(errFile);
  c.out.assign(out.begin(), out.end());
  c.err.assign(err.begin(), err.end());
  std::remove(outFile.c_str());
  std::remove(errFile.c_str());
  return c;
}

TEST_F(EndToEnd, CommandWritesOnlyTheImageToStandardOutput) {
  Command c = RunCommand("--mode Gray --resolution 100 -x 50 -y 20 -p", dir_);
  ASSERT_EQ(c.status, 0) << c.err;
  readback::Image img = readback::ReadPnm(std::vector<uint8_t>(c.out.begin(), c.out.end()));
  ASSERT_TRUE(img.ok) << img.error;
  EXPECT_EQ(img.pnmMagic, "P5");
  EXPECT_EQ(img.width, 197u);
  EXPECT_EQ(img.height, 79u);
  EXPECT_NE(c.err.find("Progress: 100.0%"), std::string::npos) << c.err;

  // TIFF needs to seek: fine into a file, refused into a pipe.
  c = RunCommand("--format tiff --resolution 100 -x 10 -y 10", dir_);
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out.substr(0, 2), "II");
  c = RunCommand("--format tiff --resolution 100 -x 10 -y 10 | cat", dir_);
  EXPECT_EQ(c.out, "");
  EXPECT_NE(c.err.find("seekable"), std::string::npos) << c.err;
}

TEST_F(EndToEnd, CommandRefusesBadOptionsWithExitTwo) {
  struct Case {
    const char* args;
    const char* message;
  };
  const Case cases[] = {
      {"--frobnicate", "unknown option '--frobnicate'"},
      {"--resolution 601", "resolution 601 is outside 100..600 dpi"},
      {"--resolution 99", "resolution 99 is outside 100..600 dpi"},
      {"--mode Halftone", "unknown mode 'Halftone'"},
      {"--mode Gray --channel purple", "unknown channel 'purple'"},
      {"--format gif", "unknown format 'gif'"},
      {"-l 200 -x 20", "reaches past the glass's width of 215.9 mm"},
      {"-y 300", "reaches past the glass's length of 297.18 mm"},
      {"--resolution", "needs an argument"},
  };
  for (const auto& c : cases) {
    Command r = RunCommand(c.args, dir_);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
  }
  Command help = RunCommand("--help", dir_);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--resolution 100..600"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("--document FILE"), std::string::npos);
}

}  // namespace
