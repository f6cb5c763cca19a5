// Reading back what lumetra-scan wrote, with libpng and libtiff themselves and a small PNM
// parser, so the tests check the files as other programs will see them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace readback {

struct Image {
  bool ok = false;
  std::string error;
  uint32_t width = 0, height = 0;
  int bitDepth = 0;       // 1 or 8
  int channels = 0;       // 1 or 3
  double dpiX = 0, dpiY = 0;
  int photometric = -1;   // TIFF only
  std::string pnmMagic;   // PNM only
  std::vector<std::vector<uint8_t>> rows;  // as stored in the file (packed bits for 1-bit)

  // Black / dark test independent of the format's polarity: true when pixel (x, y) is
  // black in a 1-bit image.
  bool Black(uint32_t x, uint32_t y) const;
};

Image ReadPng(const std::string& path);
Image ReadTiff(const std::string& path);
Image ReadPnm(const std::vector<uint8_t>& bytes);
Image ReadPnmFile(const std::string& path);

// Everything written to a temporary file so far.
std::string Slurp(FILE* f);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace readback
