#include "image_readback.h"

#include <cctype>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>

#include <png.h>
#include <tiffio.h>

namespace readback {

bool Image::Black(uint32_t x, uint32_t y) const {
  bool bit = (rows[y][x / 8] >> (7 - x % 8)) & 1;
  // PBM and min-is-white TIFF store 1 for black; PNG and min-is-black TIFF store 0.
  bool oneIsBlack = !pnmMagic.empty() || photometric == PHOTOMETRIC_MINISWHITE;
  return oneIsBlack ? bit : !bit;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Image ReadPng(const std::string& path) {
  Image img;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    img.error = "cannot open";
    return img;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    img.ok = false;
    img.error = "libpng error";
    return img;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  img.width = png_get_image_width(png, info);
  img.height = png_get_image_height(png, info);
  img.bitDepth = png_get_bit_depth(png, info);
  img.channels = png_get_channels(png, info);
  png_uint_32 rx = 0, ry = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &rx, &ry, &unit) && unit == PNG_RESOLUTION_METER) {
    img.dpiX = rx * 0.0254;
    img.dpiY = ry * 0.0254;
  }
  size_t rowBytes = png_get_rowbytes(png, info);
  img.rows.assign(img.height, std::vector<uint8_t>(rowBytes));
  for (uint32_t y = 0; y < img.height; ++y) png_read_row(png, img.rows[y].data(), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  img.ok = true;
  return img;
}

Image ReadTiff(const std::string& path) {
  Image img;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) {
    img.error = "libtiff cannot open";
    return img;
  }
  uint16_t bits = 0, samples = 0, photometric = 0, unit = 0;
  float rx = 0, ry = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &img.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &img.height);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &rx) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &ry) &&
      TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit) && unit == RESUNIT_INCH) {
    img.dpiX = rx;
    img.dpiY = ry;
  }
  img.bitDepth = bits;
  img.channels = samples;
  img.photometric = photometric;
  img.rows.assign(img.height, std::vector<uint8_t>(TIFFScanlineSize(tif)));
  for (uint32_t y = 0; y < img.height; ++y) {
    if (TIFFReadScanline(tif, img.rows[y].data(), y, 0) < 0) {
      img.error = "short TIFF";
      TIFFClose(tif);
      return img;
    }
  }
  TIFFClose(tif);
  img.ok = true;
  return img;
}

Image ReadPnm(const std::vector<uint8_t>& bytes) {
  Image img;
  size_t at = 0;
  auto token = [&]() {
    std::string t;
    while (at < bytes.size()) {
      char c = static_cast<char>(bytes[at]);
      if (c == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++at;
        if (!t.empty()) return t;
      } else {
        t += c;
        ++at;
      }
    }
    return t;
  };
  img.pnmMagic = token();
  if (img.pnmMagic != "P4" && img.pnmMagic != "P5" && img.pnmMagic != "P6") {
    img.error = "bad magic";
    return img;
  }
  img.width = static_cast<uint32_t>(std::stoul(token()));
  img.height = static_cast<uint32_t>(std::stoul(token()));
  if (img.pnmMagic != "P4") {
    if (token() != "255") {
      img.error = "bad maxval";
      return img;
    }
    img.bitDepth = 8;
  } else {
    img.bitDepth = 1;
  }
  // token() consumed the single whitespace after the last header field.
  img.channels = img.pnmMagic == "P6" ? 3 : 1;
  size_t rowBytes = img.pnmMagic == "P6" ? 3 * img.width : img.pnmMagic == "P5" ? img.width : (img.width + 7) / 8;
  if (bytes.size() - at != rowBytes * img.height) {
    img.error = "data is " + std::to_string(bytes.size() - at) + " bytes, header says " +
                std::to_string(rowBytes * img.height);
    return img;
  }
  for (uint32_t y = 0; y < img.height; ++y)
    img.rows.emplace_back(bytes.begin() + at + y * rowBytes, bytes.begin() + at + (y + 1) * rowBytes);
  img.ok = true;
  return img;
}

Image ReadPnmFile(const std::string& path) { return ReadPnm(ReadFileBytes(path)); }

}  // namespace readback

std::string readback::Slurp(FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}
