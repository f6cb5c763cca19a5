// Image files written row by row as the scanner delivers them: PNM always, PNG and TIFF
// where the build has libpng and libtiff. Each file records the scan's resolution where
// the format can hold it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "tools/scan_options.h"

namespace lumetra {

enum class PixelKind {
  Rgb,      // three bytes a pixel, red, green, blue
  Gray,     // one byte a pixel, 0 black
  Bilevel,  // one bit a pixel, first pixel in bit 0x80, 1 black; rows padded to bytes
};

struct ImageInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  PixelKind kind = PixelKind::Rgb;
  int dpi = 0;
};

class ImageWriter {
 public:
  virtual ~ImageWriter() = default;
  // Each returns false on failure, with the reason in error(). Rows go in order, top first.
  virtual bool Start(const ImageInfo& info) = 0;
  virtual bool WriteRow(const uint8_t* row) = 0;
  virtual bool Finish() = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

// Whether this build can write the format at all.
bool FormatAvailable(ImageFormat format);

// A writer of that format onto an open file, which stays the caller's to close. Null with
// the reason in *error when this build has no such writer, or when the format cannot go
// to that file (TIFF seeks back to finish its header: no pipe, no terminal).
std::unique_ptr<ImageWriter> MakeImageWriter(ImageFormat format, FILE* file, std::string* error);

}  // namespace lumetra
