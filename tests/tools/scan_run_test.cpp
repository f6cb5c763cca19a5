// lumetra-scan's run on a stand-in driver: the order of the LD_ calls, the batches of
// lines, what reaches the image, and each driver refusal put into words with exit 1 and
// the scanner released; usage errors exit 2 without touching the scanner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image_readback.h"
#include "tools/lumetra_scan.h"
#include "tools/scan_session.h"

namespace {

using readback::Slurp;

// The stand-in driver: records the calls, fails the one named, hands out lines whose
// every byte is the line's number.
struct Fake {
  std::vector<std::string> calls;
  std::vector<uint32_t> readCounts;
  std::string failEntry;
  int failAtRead = -1;  // index of the LD_ReadScan call that fails
  int cancelAtRead = -1;  // index of the LD_ReadScan call during which Ctrl-C comes
  int32_t failStatus = 0;
  int32_t status = 0;
  ScanRequest request{};
  uint32_t linesOut = 0;
  uint16_t maxResolution = 600;
  uint32_t maxWidth = 2550;

  int32_t Entry(const char* name) {
    calls.push_back(name);
    if (failEntry == name) {
      status = failStatus;
      return 0;
    }
    status = 0;
    return 1;
  }
} fake;

const uint16_t kResolutions[22] = {75,  100, 125, 150, 175, 200, 225, 250, 275, 300, 325,
                                   350, 375, 400, 425, 450, 475, 500, 525, 550, 575, 600};

int32_t LDAPI FakeOpen() { return fake.Entry("open"); }
int32_t LDAPI FakeClose() { return fake.Entry("close"); }
int32_t LDAPI FakeLampOn() { return fake.Entry("lamp"); }
int32_t LDAPI FakeInit() { return fake.Entry("init"); }
int32_t LDAPI FakeReset(uint32_t) { return fake.Entry("reset"); }
int32_t LDAPI FakeStatus(int32_t* s) {
  *s = fake.status;
  return 1;
}
int32_t LDAPI FakeAbility(ScannerAbility* a) {
  std::strcpy(a->deviceName, "Vindrel Scanner");
  std::strcpy(a->deviceType, "Scanner");
  std::strcpy(a->versionText, "USB Scanner V1.00");
  std::strcpy(a->releaseDate, "1998/12/26");
  a->maxResolution = fake.maxResolution;
  a->resolutionCount = 22;
  a->resolutionList = kResolutions;
  a->maxWidth = fake.maxWidth;
  a->maxLength = 3510;
  return 1;
}
int32_t LDAPI FakeSetScan(const ScanRequest* r) {
  fake.request = *r;
  fake.linesOut = 0;
  return fake.Entry("set");
}
int32_t LDAPI FakeRead(uint8_t* buffer, uint32_t count) {
  fake.readCounts.push_back(count);
  if (fake.failAtRead >= 0 && static_cast<int>(fake.readCounts.size()) - 1 == fake.failAtRead) {
    fake.calls.push_back("read");
    fake.status = fake.failStatus;
    return 0;
  }
  if (fake.cancelAtRead >= 0 && static_cast<int>(fake.readCounts.size()) - 1 == fake.cancelAtRead)
    lumetra::RequestCancel();
  int32_t ok = fake.Entry("read");
  if (!ok) return 0;
  for (uint32_t i = 0; i < count; ++i, ++fake.linesOut)
    std::memset(buffer + size_t(i) * fake.request.bytesPerLine, static_cast<int>(fake.linesOut & 0xFF),
                fake.request.bytesPerLine);
  return 1;
}

const lumetra::DriverApi kFakeDriver = {&FakeOpen,    &FakeClose,   &FakeAbility, &FakeReset, &FakeInit,
                                        &FakeSetScan, &FakeRead,    &FakeStatus,  &FakeLampOn};

class ScanRun : public testing::Test {
 protected:
  void SetUp() override {
    fake = Fake{};
    image_ = std::tmpfile();
    info_ = std::tmpfile();
    messages_ = std::tmpfile();
    env_.imageOut = image_;
    env_.infoOut = info_;
    env_.messages = messages_;
    env_.driver = &kFakeDriver;
    path_ = testing::TempDir() + "lumetra_run_" + std::to_string(getpid()) + ".pnm";
    std::remove(path_.c_str());
  }
  void TearDown() override {
    std::fclose(image_);
    std::fclose(info_);
    std::fclose(messages_);
    std::remove(path_.c_str());
  }

  int Run(std::vector<std::string> args) { return lumetra::RunLumetraScan(args, env_); }
  std::string Image() { return Slurp(image_); }
  std::string Info() { return Slurp(info_); }
  std::string Messages() { return Slurp(messages_); }
  void ResetMessages() {
    std::fclose(messages_);
    messages_ = std::tmpfile();
    env_.messages = messages_;
  }
  bool OutputExists() {
    struct stat st;
    return stat(path_.c_str(), &st) == 0;
  }

  FILE* image_ = nullptr;
  FILE* info_ = nullptr;
  FILE* messages_ = nullptr;
  lumetra::RunEnvironment env_;
  std::string path_;
};

TEST_F(ScanRun, CallsTheDriverInOrderAndReadsInBatches) {
  // Grey, 600 dpi, 100 x 50 mm: 2362 x 1181; a batch of 256 KiB holds 110 lines.
  ASSERT_EQ(Run({"--mode", "Gray", "--resolution", "600", "-x", "100", "-y", "50", "-o", path_}), 0) << Messages();
  std::vector<std::string> head(fake.calls.begin(), fake.calls.begin() + 4);
  EXPECT_EQ(head, (std::vector<std::string>{"open", "lamp", "init", "set"}));
  std::vector<std::string> tail(fake.calls.end() - 2, fake.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"reset", "close"}));
  uint32_t total = 0;
  for (uint32_t n : fake.readCounts) {
    EXPECT_GE(n, 1u);
    EXPECT_LE(n * 2362, lumetra::kReadBatchBytes);
    total += n;
  }
  EXPECT_EQ(total, 1181u);
  EXPECT_EQ(fake.readCounts.size(), 11u);
  EXPECT_EQ(fake.request.bytesPerLine, 2362u);

  readback::Image img = readback::ReadPnmFile(path_);
  ASSERT_TRUE(img.ok) << img.error;
  EXPECT_EQ(img.pnmMagic, "P5");
  EXPECT_EQ(img.width, 2362u);
  EXPECT_EQ(img.height, 1181u);
  for (uint32_t y : {0u, 109u, 110u, 1180u}) EXPECT_EQ(img.rows[y][0], y & 0xFF) << "row " << y;
  EXPECT_TRUE(Image().empty());
  EXPECT_TRUE(Messages().empty()) << Messages();
}

TEST_F(ScanRun, ImageOnStandardOutputAndProgressOnTheMessages) {
  ASSERT_EQ(Run({"--mode", "Color", "--resolution", "100", "-x", "10", "-y", "10", "-p"}), 0) << Messages();
  std::string out = Image();
  readback::Image img = readback::ReadPnm(std::vector<uint8_t>(out.begin(), out.end()));
  ASSERT_TRUE(img.ok) << img.error;  // nothing but the image on standard output
  EXPECT_EQ(img.pnmMagic, "P6");
  EXPECT_EQ(img.width, 39u);
  EXPECT_EQ(img.height, 39u);
  std::string m = Messages();
  EXPECT_NE(m.find("Scanning 39 x 39 pixels, Color, 100 dpi"), std::string::npos) << m;
  EXPECT_NE(m.find("Progress: 100.0%\n"), std::string::npos) << m;
}

TEST_F(ScanRun, DriverFailuresAreNamedInWordsAndTheScannerIsReleased) {
  struct Case {
    const char* entry;
    int failAtRead;
    int32_t status;
    const char* words;
  };
  const Case cases[] = {
      {"open", -1, 1, "LD_OpenScanner) failed: device not open or open failed [status 1]"},
      {"lamp", -1, 1, "LD_LampOn) failed: device not open or open failed"},
      {"init", -1, 0, "LD_DeviceInit) failed: no error [status 0]; the calibration strip was not found"},
      {"init", -1, 5, "LD_DeviceInit) failed: data transfer failed [status 5]"},
      {"set", -1, 2, "LD_SetScanParameter) failed: out of memory [status 2]"},
      {"set", -1, 0, "LD_SetScanParameter) failed: no error [status 0]; the driver refused"},
      {"read", 0, 5, "LD_ReadScan) failed: data transfer failed [status 5]"},
      {"read", 3, 5, "stopped after 330 of"},
      {"read", 1, 7, "unknown status 7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.entry << " status " << c.status);
    fake = Fake{};
    fake.failEntry = c.failAtRead < 0 ? c.entry : "";
    fake.failAtRead = c.failAtRead;
    fake.failStatus = c.status;
    ResetMessages();
    EXPECT_EQ(Run({"--mode", "Gray", "--resolution", "600", "-x", "100", "-y", "50", "-o", path_}), 1);
    EXPECT_NE(Messages().find(c.words), std::string::npos) << Messages();
    // A failed scan leaves no file behind that looks like an image.
    EXPECT_FALSE(OutputExists());
    // Closed on every path after a successful open; reset once a request was made.
    bool opened = std::string(c.entry) != "open";
    bool requested = std::string(c.entry) == "set" || std::string(c.entry) == "read";
    EXPECT_EQ(!fake.calls.empty() && fake.calls.back() == "close", opened);
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "reset"), requested ? 1 : 0);
  }
}

TEST_F(ScanRun, ReleaseFailureAfterACompleteImageIsStillAFailure) {
  fake.failEntry = "close";
  fake.failStatus = 1;
  EXPECT_EQ(Run({"--mode", "Gray", "-x", "10", "-y", "10", "-o", path_}), 1);
  EXPECT_NE(Messages().find("LD_CloseScanner) failed: device not open or open failed"), std::string::npos)
      << Messages();
}

TEST_F(ScanRun, InterruptStopsBetweenBatchesAndReleasesTheScanner) {
  fake.cancelAtRead = 1;
  EXPECT_EQ(Run({"--mode", "Gray", "--resolution", "600", "-x", "100", "-y", "50", "-o", path_}), 1);
  EXPECT_NE(Messages().find("scan cancelled"), std::string::npos) << Messages();
  EXPECT_EQ(fake.readCounts.size(), 2u);
  std::vector<std::string> tail(fake.calls.end() - 2, fake.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"reset", "close"}));
  EXPECT_FALSE(OutputExists());
  // The next scan is not cancelled by the old request.
  fake = Fake{};
  EXPECT_EQ(Run({"--mode", "Gray", "-x", "10", "-y", "10", "-o", path_}), 0) << Messages();
}

TEST_F(ScanRun, UsageErrorsExitTwoWithoutTouchingTheScanner) {
  const std::vector<std::vector<std::string>> cases = {
      {"--resolution", "50"},
      {"--bogus"},
      {"-x", "300"},
      {"--mode", "Gray", "--channel", "pink"},
      {"--format"},
      {"--document", "page.png"},  // no virtual scanner in this environment
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    fake = Fake{};
    ResetMessages();
    EXPECT_EQ(Run(cases[i]), 2) << cases[i][0];
    EXPECT_TRUE(fake.calls.empty()) << cases[i][0];
    EXPECT_NE(Messages().find("Try 'lumetra-scan --help'"), std::string::npos);
    EXPECT_TRUE(Image().empty());
  }
}

TEST_F(ScanRun, TiffOnAPipeIsAUsageError) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE* pipeOut = fdopen(fds[1], "wb");
  env_.imageOut = pipeOut;
  EXPECT_EQ(Run({"--format", "tiff"}), 2);
  EXPECT_NE(Messages().find("seekable"), std::string::npos) << Messages();
  EXPECT_TRUE(fake.calls.empty());
  std::fclose(pipeOut);
  close(fds[0]);
}

TEST_F(ScanRun, OutputThatCannotBeWrittenFails) {
  EXPECT_EQ(Run({"-o", "/nonexistent-folder/scan.png"}), 1);
  EXPECT_NE(Messages().find("cannot create '/nonexistent-folder/scan.png'"), std::string::npos) << Messages();
  EXPECT_TRUE(fake.calls.empty());

  // A full disk during the scan: the scanner is still reset and closed.
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  env_.imageOut = full;
  EXPECT_EQ(Run({"--mode", "Gray", "-x", "100", "-y", "100"}), 1);
  std::fclose(full);
  EXPECT_NE(Messages().find("writing the image failed"), std::string::npos) << Messages();
  std::vector<std::string> tail(fake.calls.end() - 2, fake.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"reset", "close"}));
}

TEST_F(ScanRun, OnlyRegularOutputFilesAreRemovedAfterAFailure) {
  std::string fifo = path_ + ".fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread reader([&] {
    int fd = open(fifo.c_str(), O_RDONLY);
    char buf[4096];
    while (read(fd, buf, sizeof buf) > 0) {
    }
    close(fd);
  });
  fake.failAtRead = 0;
  fake.failStatus = 5;
  EXPECT_EQ(Run({"--mode", "Gray", "-x", "10", "-y", "10", "-o", fifo}), 1);
  reader.join();
  struct stat st;
  EXPECT_EQ(stat(fifo.c_str(), &st), 0) << "a named pipe given with -o was removed";
  std::remove(fifo.c_str());
}

TEST_F(ScanRun, HelpShowsTheRangesTheDriverReports) {
  fake.maxResolution = 400;
  fake.maxWidth = 1275;  // 4.25 inch
  ASSERT_EQ(Run({"--help"}), 0);
  std::string help = Info();
  EXPECT_NE(help.find("--resolution 100..400"), std::string::npos) << help;
  EXPECT_NE(help.find("-x 0..107.95"), std::string::npos) << help;
  EXPECT_NE(help.find("-y 0..297.18"), std::string::npos) << help;
  EXPECT_NE(help.find("75..600 in steps of 25"), std::string::npos) << help;
  EXPECT_NE(help.find("2 usage error"), std::string::npos) << help;
  EXPECT_NE(help.find("1 the scanner or driver failed"), std::string::npos) << help;
  EXPECT_TRUE(Image().empty());
  EXPECT_TRUE(fake.calls.empty());

  EXPECT_EQ(Run({"-x", "110"}), 2);
  EXPECT_EQ(Run({"--resolution", "500"}), 2);
}

TEST_F(ScanRun, VersionAndDeviceList) {
  ASSERT_EQ(Run({"-V"}), 0);
  EXPECT_NE(Info().find("lumetra-scan "), std::string::npos);
  EXPECT_NE(Info().find("USB Scanner V1.00"), std::string::npos);

  ASSERT_EQ(Run({"-L"}), 0);
  EXPECT_NE(Info().find("Lumetra 5170C"), std::string::npos) << Info();
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"open", "close"}));

  fake = Fake{};
  fake.failEntry = "open";
  fake.failStatus = 1;
  EXPECT_EQ(Run({"--list-devices"}), 1);
  EXPECT_NE(Messages().find("no scanner found"), std::string::npos);
  EXPECT_NE(Messages().find("device not open or open failed"), std::string::npos);
}

}  // namespace
