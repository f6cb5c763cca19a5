#include "vscan/document_image.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "vscan/test_chart.h"

#if VSCAN_HAVE_PNG
#include <png.h>
#endif

namespace vscan {

ImageDocument::ImageDocument(int width, int height, int dpiX, int dpiY, std::vector<uint8_t> rgb)
    : width_(width), height_(height), dpiX_(dpiX > 0 ? dpiX : 600), dpiY_(dpiY > 0 ? dpiY : 600),
      rgb_(std::move(rgb)) {
  if (width_ < 0) width_ = 0;
  if (height_ < 0) height_ = 0;
  // A raster shorter than its size says reads as paper where it has no data.
  size_t need = static_cast<size_t>(width_) * height_ * 3;
  if (rgb_.size() < need) rgb_.resize(need, 255);
  int w = width600();
  column_.resize(w);
  for (int x = 0; x < w; ++x) column_[x] = static_cast<int>(static_cast<int64_t>(x) * dpiX_ / 600);
}

int ImageDocument::width600() const {
  return static_cast<int>((static_cast<int64_t>(width_) * 600 + dpiX_ - 1) / dpiX_);
}

int ImageDocument::width() const { return width600(); }

int ImageDocument::height() const {
  return static_cast<int>((static_cast<int64_t>(height_) * 600 + dpiY_ - 1) / dpiY_);
}

void ImageDocument::row(int row, int count, uint8_t* red, uint8_t* green, uint8_t* blue) const {
  std::memset(red, 255, count);
  std::memset(green, 255, count);
  std::memset(blue, 255, count);
  if (row < 0) return;
  int64_t y = static_cast<int64_t>(row) * dpiY_ / 600;
  if (y >= height_) return;
  const uint8_t* src = rgb_.data() + static_cast<size_t>(y) * width_ * 3;
  int n = count < static_cast<int>(column_.size()) ? count : static_cast<int>(column_.size());
  for (int x = 0; x < n; ++x) {
    int c = column_[x];
    if (c >= width_) break;
    red[x] = src[3 * c];
    green[x] = src[3 * c + 1];
    blue[x] = src[3 * c + 2];
  }
}

namespace {

// The largest raster a document may hold: a full glass at 1200 dpi fits with room to spare.
constexpr uint64_t kMaxImageBytes = uint64_t(1) << 30;

// Reads the whole file; binary, through stdio so that it builds everywhere.
bool ReadFile(const std::string& path, std::vector<uint8_t>* data) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data->insert(data->end(), buf, buf + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// PNM header and ASCII fields: whitespace and '#' comments between tokens.
struct PnmReader {
  const std::vector<uint8_t>& d;
  size_t pos = 0;
  bool number(long* out) {
    for (;;) {
      while (pos < d.size() && std::isspace(d[pos])) ++pos;
      if (pos < d.size() && d[pos] == '#') {
        while (pos < d.size() && d[pos] != '\n') ++pos;
        continue;
      }
      break;
    }
    if (pos >= d.size() || !std::isdigit(d[pos])) return false;
    long v = 0;
    while (pos < d.size() && std::isdigit(d[pos])) {
      v = v * 10 + (d[pos++] - '0');
      if (v > 100000000) return false;
    }
    *out = v;
    return true;
  }
};

std::unique_ptr<ImageDocument> LoadPnm(const std::vector<uint8_t>& d, std::string* error) {
  char kind = d.size() >= 2 ? static_cast<char>(d[1]) : 0;
  bool ascii = kind == '2' || kind == '3';
  bool colour = kind == '3' || kind == '6';
  if (d.size() < 2 || d[0] != 'P' || !(ascii || kind == '5' || kind == '6')) {
    *error = "not a grey or colour PNM image";
    return nullptr;
  }
  PnmReader r{d, 2};
  long w, h, maxval;
  if (!r.number(&w) || !r.number(&h) || !r.number(&maxval) || w <= 0 || h <= 0 ||
      maxval <= 0 || maxval > 65535 || w > 60000 || h > 60000) {
    *error = "bad PNM header";
    return nullptr;
  }
  size_t channels = colour ? 3 : 1;
  size_t samples = static_cast<size_t>(w) * h * channels;
  if (static_cast<uint64_t>(w) * h * 3 > kMaxImageBytes) {
    *error = "PNM image too large";
    return nullptr;
  }
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  auto put = [&](size_t i, long v) {
    if (v > maxval) v = maxval;
    uint8_t b = static_cast<uint8_t>((v * 255 + maxval / 2) / maxval);
    if (colour) {
      rgb[i] = b;
    } else {
      rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = b;
    }
  };
  if (ascii) {
    for (size_t i = 0; i < samples; ++i) {
      long v;
      if (!r.number(&v)) {
        *error = "PNM data ends early";
        return nullptr;
      }
      put(i, v);
    }
  } else {
    size_t start = r.pos + 1;  // one whitespace byte after maxval
    size_t bytes = maxval > 255 ? 2 : 1;
    if (start > d.size() || d.size() - start < samples * bytes) {
      *error = "PNM data ends early";
      return nullptr;
    }
    const uint8_t* p = d.data() + start;
    for (size_t i = 0; i < samples; ++i)
      put(i, bytes == 2 ? (p[2 * i] << 8 | p[2 * i + 1]) : p[i]);
  }
  return std::unique_ptr<ImageDocument>(
      new ImageDocument(static_cast<int>(w), static_cast<int>(h), 600, 600, std::move(rgb)));
}

#if VSCAN_HAVE_PNG
struct PngSource {
  const std::vector<uint8_t>* d;
  size_t pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t n) {
  auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
  if (src->d->size() - src->pos < n) png_error(png, "truncated");
  std::memcpy(out, src->d->data() + src->pos, n);
  src->pos += n;
}

std::unique_ptr<ImageDocument> LoadPng(const std::vector<uint8_t>& d, std::string* error) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    *error = "libpng failed";
    return nullptr;
  }
  PngSource src{&d, 0};
  std::vector<uint8_t> rgb;
  std::vector<png_bytep> rows;
  png_uint_32 w = 0, h = 0;
  int dpiX = 600, dpiY = 600;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    *error = "bad PNG file";
    return nullptr;
  }
  png_set_read_fn(png, &src, PngRead);
  png_read_info(png, info);
  w = png_get_image_width(png, info);
  h = png_get_image_height(png, info);
  if (w == 0 || h == 0 || w > 60000 || h > 60000 ||
      static_cast<uint64_t>(w) * h * 3 > kMaxImageBytes)
    png_error(png, "size");
  png_set_strip_16(png);
  png_set_packing(png);
  png_set_palette_to_rgb(png);
  png_set_expand_gray_1_2_4_to_8(png);
  png_set_gray_to_rgb(png);
  png_set_strip_alpha(png);
  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER && resX &&
      resY) {
    dpiX = static_cast<int>(std::lround(resX * 0.0254));
    dpiY = static_cast<int>(std::lround(resY * 0.0254));
    if (dpiX <= 0) dpiX = 600;
    if (dpiY <= 0) dpiY = 600;
  }
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(w) * 3) png_error(png, "format");
  rgb.resize(static_cast<size_t>(w) * h * 3);
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = rgb.data() + static_cast<size_t>(y) * w * 3;
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  return std::unique_ptr<ImageDocument>(new ImageDocument(
      static_cast<int>(w), static_cast<int>(h), dpiX, dpiY, std::move(rgb)));
}
#endif

}  // namespace

std::unique_ptr<ImageDocument> LoadImageDocument(const std::string& path, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  std::vector<uint8_t> data;
  if (!ReadFile(path, &data)) {
    *error = "cannot read " + path;
    return nullptr;
  }
  static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data.size() >= 8 && std::memcmp(data.data(), kPngSignature, 8) == 0) {
#if VSCAN_HAVE_PNG
    return LoadPng(data, error);
#else
    *error = "PNG support not built in";
    return nullptr;
#endif
  }
  return LoadPnm(data, error);
}

std::unique_ptr<Document> MakeDocument(const std::string& documentPath, std::string* error) {
  if (!documentPath.empty()) {
    std::unique_ptr<ImageDocument> image = LoadImageDocument(documentPath, error);
    if (image) return image;
  }
  return std::unique_ptr<Document>(new chart::TestChart);
}

}  // namespace vscan
