// The image writers: a small image in each format and pixel kind, read back with libpng,
// libtiff and a PNM parser; the resolution recorded; line art black where the scanner
// saw black; and the failures a writer must not pass over (a pipe for TIFF, a full
// disk, a short image).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <tiffio.h>
#include <unistd.h>

#include "image_readback.h"
#include "tools/image_writer.h"

using lumetra::ImageFormat;
using lumetra::ImageInfo;
using lumetra::PixelKind;

namespace {

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "lumetra_writer_" + std::to_string(getpid()) + "_" + name;
}

// 5 x 3 pixels; line art rows 1 = black, first pixel in bit 0x80.
std::vector<std::vector<uint8_t>> Rows(PixelKind kind) {
  std::vector<std::vector<uint8_t>> rows;
  for (int y = 0; y < 3; ++y) {
    std::vector<uint8_t> r;
    if (kind == PixelKind::Bilevel) {
      const uint8_t bits[3] = {0x88, 0x50, 0xF8};  // 10001, 01010, 11111
      r.push_back(bits[y]);
    } else {
      int n = kind == PixelKind::Rgb ? 15 : 5;
      for (int i = 0; i < n; ++i) r.push_back(static_cast<uint8_t>(y * 80 + i * 11));
    }
    rows.push_back(r);
  }
  return rows;
}

bool WriteImage(ImageFormat format, PixelKind kind, int dpi, const std::string& path, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "w+b");
  if (!f) return false;
  auto writer = lumetra::MakeImageWriter(format, f, error);
  bool ok = writer != nullptr;
  ImageInfo info;
  info.width = 5;
  info.height = 3;
  info.kind = kind;
  info.dpi = dpi;
  if (ok) ok = writer->Start(info);
  for (const auto& row : Rows(kind))
    if (ok) ok = writer->WriteRow(row.data());
  if (ok) ok = writer->Finish();
  if (!ok && writer) *error = writer->error();
  std::fclose(f);
  return ok;
}

readback::Image Read(ImageFormat format, const std::string& path) {
  switch (format) {
    case ImageFormat::Png: return readback::ReadPng(path);
    case ImageFormat::Tiff: return readback::ReadTiff(path);
    case ImageFormat::Pnm: return readback::ReadPnmFile(path);
  }
  return {};
}

TEST(ImageWriter, EachFormatAndKindReadsBackWithItsSizeResolutionAndPixels) {
  const ImageFormat formats[] = {ImageFormat::Pnm, ImageFormat::Png, ImageFormat::Tiff};
  const PixelKind kinds[] = {PixelKind::Rgb, PixelKind::Gray, PixelKind::Bilevel};
  for (ImageFormat format : formats) {
    for (PixelKind kind : kinds) {
      SCOPED_TRACE(testing::Message() << lumetra::FormatName(format) << " kind " << static_cast<int>(kind));
      std::string path = TempPath("rb");
      std::string error;
      ASSERT_TRUE(WriteImage(format, kind, 200, path, &error)) << error;
      readback::Image img = Read(format, path);
      ASSERT_TRUE(img.ok) << img.error;
      EXPECT_EQ(img.width, 5u);
      EXPECT_EQ(img.height, 3u);
      EXPECT_EQ(img.channels, kind == PixelKind::Rgb ? 3 : 1);
      EXPECT_EQ(img.bitDepth, kind == PixelKind::Bilevel ? 1 : 8);
      if (format != ImageFormat::Pnm) {
        // PNG keeps whole pixels per metre: 7874 for 200 dpi.
        EXPECT_NEAR(img.dpiX, 200, 0.01);
        EXPECT_NEAR(img.dpiY, 200, 0.01);
      }
      auto rows = Rows(kind);
      for (uint32_t y = 0; y < 3; ++y) {
        if (kind == PixelKind::Bilevel) {
          for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(img.Black(x, y), ((rows[y][0] >> (7 - x)) & 1) != 0) << "pixel " << x << "," << y;
        } else {
          EXPECT_EQ(img.rows[y], rows[y]) << "row " << y;
        }
      }
      std::remove(path.c_str());
    }
  }
}

TEST(ImageWriter, LineArtPolarityPerFormat) {
  // What each format stores for the scanner's black (1): PNG 0, PBM 1, TIFF 1 with
  // min-is-white.
  std::string path = TempPath("polarity");
  std::string error;
  ASSERT_TRUE(WriteImage(ImageFormat::Png, PixelKind::Bilevel, 300, path, &error)) << error;
  EXPECT_EQ(readback::ReadPng(path).rows[2][0] & 0xF8, 0x00);  // all-black row
  ASSERT_TRUE(WriteImage(ImageFormat::Tiff, PixelKind::Bilevel, 300, path, &error)) << error;
  readback::Image tiff = readback::ReadTiff(path);
  EXPECT_EQ(tiff.photometric, PHOTOMETRIC_MINISWHITE);
  EXPECT_EQ(tiff.rows[2][0] & 0xF8, 0xF8);
  ASSERT_TRUE(WriteImage(ImageFormat::Pnm, PixelKind::Bilevel, 300, path, &error)) << error;
  readback::Image pbm = readback::ReadPnmFile(path);
  EXPECT_EQ(pbm.pnmMagic, "P4");
  EXPECT_EQ(pbm.rows[2][0] & 0xF8, 0xF8);
  std::remove(path.c_str());
}

TEST(ImageWriter, TiffAppendedAfterOtherDataIsStillReadable) {
  // Offsets inside the TIFF count from where it starts in the file.
  std::string path = TempPath("offset");
  FILE* f = std::fopen(path.c_str(), "w+b");
  ASSERT_NE(f, nullptr);
  std::fputs("prefix", f);
  std::string error;
  auto writer = lumetra::MakeImageWriter(ImageFormat::Tiff, f, &error);
  ASSERT_NE(writer, nullptr) << error;
  ImageInfo info;
  info.width = 5;
  info.height = 3;
  info.kind = PixelKind::Gray;
  info.dpi = 150;
  ASSERT_TRUE(writer->Start(info));
  for (const auto& row : Rows(PixelKind::Gray)) ASSERT_TRUE(writer->WriteRow(row.data()));
  ASSERT_TRUE(writer->Finish()) << writer->error();
  writer.reset();
  std::fclose(f);
  std::vector<uint8_t> bytes = readback::ReadFileBytes(path);
  std::string tail = path + ".tif";
  FILE* t = std::fopen(tail.c_str(), "wb");
  std::fwrite(bytes.data() + 6, 1, bytes.size() - 6, t);
  std::fclose(t);
  readback::Image img = readback::ReadTiff(tail);
  ASSERT_TRUE(img.ok) << img.error;
  EXPECT_EQ(img.rows[1], Rows(PixelKind::Gray)[1]);
  std::remove(path.c_str());
  std::remove(tail.c_str());
}

TEST(ImageWriter, TiffRefusesAPipeWhileStreamFormatsTakeIt) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE* w = fdopen(fds[1], "wb");
  std::string error;
  EXPECT_EQ(lumetra::MakeImageWriter(ImageFormat::Tiff, w, &error), nullptr);
  EXPECT_NE(error.find("seekable"), std::string::npos) << error;
  EXPECT_NE(lumetra::MakeImageWriter(ImageFormat::Png, w, &error), nullptr);
  EXPECT_NE(lumetra::MakeImageWriter(ImageFormat::Pnm, w, &error), nullptr);
  std::fclose(w);
  close(fds[0]);
}

TEST(ImageWriter, FailuresAreReportedNotPassedOver) {
  ImageInfo info;
  info.width = 200;
  info.height = 400;
  info.kind = PixelKind::Rgb;
  info.dpi = 300;
  std::vector<uint8_t> row(600, 0x5A);

  // A full disk: the rows go nowhere, and at the latest Finish says so.
  for (ImageFormat format : {ImageFormat::Pnm, ImageFormat::Png}) {
    FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::string error;
    auto writer = lumetra::MakeImageWriter(format, full, &error);
    ASSERT_NE(writer, nullptr);
    bool ok = writer->Start(info);
    for (uint32_t y = 0; y < info.height && ok; ++y) ok = writer->WriteRow(row.data());
    if (ok) ok = writer->Finish();
    EXPECT_FALSE(ok) << lumetra::FormatName(format);
    EXPECT_FALSE(writer->error().empty());
    writer.reset();
    std::fclose(full);
  }

  // Fewer rows than the header promised.
  for (ImageFormat format : {ImageFormat::Pnm, ImageFormat::Png, ImageFormat::Tiff}) {
    std::string path = TempPath("short");
    FILE* f = std::fopen(path.c_str(), "w+b");
    std::string error;
    auto writer = lumetra::MakeImageWriter(format, f, &error);
    ASSERT_NE(writer, nullptr) << error;
    ASSERT_TRUE(writer->Start(info));
    ASSERT_TRUE(writer->WriteRow(row.data()));
    EXPECT_FALSE(writer->Finish()) << lumetra::FormatName(format);
    EXPECT_NE(writer->error().find("1 of 400"), std::string::npos) << writer->error();
    writer.reset();
    std::fclose(f);
    std::remove(path.c_str());
  }
}

}  // namespace
