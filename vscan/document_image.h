// What lies on the glass: the built-in test chart or an image file, seen by the optics as
// 8-bit values per colour on a 600 dpi grid whose origin is the glass's top-left corner.
// A value v is a reflectance of 0.01 + 0.89 x v / 255 (255 paper, 0 ink); everything beyond
// the image is paper.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vscan {

class Document {
 public:
  virtual ~Document() = default;

  // Extent of the document on the 600 dpi grid.
  virtual int width() const = 0;
  virtual int height() const = 0;

  // Fills red[x], green[x], blue[x] for x in [0, count) of 600 dpi row `row`; columns and
  // rows outside the document read 255 (paper).
  virtual void row(int row, int count, uint8_t* red, uint8_t* green, uint8_t* blue) const = 0;
};

// An 8-bit RGB raster at its own resolution, placed at the glass's top-left corner and
// sampled onto the 600 dpi grid (nearest pixel).
class ImageDocument : public Document {
 public:
  ImageDocument(int width, int height, int dpiX, int dpiY, std::vector<uint8_t> rgb);

  int width() const override;
  int height() const override;
  void row(int row, int count, uint8_t* red, uint8_t* green, uint8_t* blue) const override;

  int pixelWidth() const { return width_; }
  int pixelHeight() const { return height_; }
  int dpiX() const { return dpiX_; }
  int dpiY() const { return dpiY_; }
  const std::vector<uint8_t>& rgb() const { return rgb_; }

 private:
  int width600() const;
  int width_, height_, dpiX_, dpiY_;
  std::vector<uint8_t> rgb_;  // width x height x 3, rows top to bottom
  std::vector<int> column_;   // 600 dpi column -> image column, over width()
};

// Loads a PNM (P2, P3, P5, P6; 8 or 16 bits) or, where built with libpng, a PNG file.
// Resolution: the PNG's pHYs chunk when it has one, else 600 dpi. Returns null and sets
// *error when the file cannot be read or is not an image of a known kind.
std::unique_ptr<ImageDocument> LoadImageDocument(const std::string& path, std::string* error);

// The document a scanner configuration puts on the glass: the image at documentPath, or
// the built-in chart when the path is empty or cannot be loaded (*error then says why).
std::unique_ptr<Document> MakeDocument(const std::string& documentPath, std::string* error);

// Reflectance of an 8-bit document value.
inline double DocumentReflectance(int v) { return 0.01 + 0.89 * v / 255.0; }

}  // namespace vscan
