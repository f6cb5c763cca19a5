// PNM by hand, PNG through libpng (resolution in pHYs), TIFF through libtiff (resolution
// tags). Line art goes out as 1-bit images in each format with black where the scanner
// saw black.
#include "tools/image_writer.h"

#include <csetjmp>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

#if defined(LUMETRA_HAVE_PNG)
#include <png.h>
#endif
#if defined(LUMETRA_HAVE_TIFF)
#include <tiffio.h>
#endif

namespace lumetra {

namespace {

uint32_t RowBytes(const ImageInfo& info) {
  switch (info.kind) {
    case PixelKind::Rgb: return 3 * info.width;
    case PixelKind::Gray: return info.width;
    case PixelKind::Bilevel: return (info.width + 7) / 8;
  }
  return 0;
}

bool FlushFile(FILE* file, std::string* error) {
  if (std::fflush(file) != 0 || std::ferror(file)) {
    *error = "writing the image failed";
    return false;
  }
  return true;
}

// Rows written against rows promised: a file with fewer rows than its header says is
// damaged, whichever format it is.
bool CheckComplete(uint32_t written, uint32_t height, std::string* error) {
  if (written == height) return true;
  *error = "image incomplete: " + std::to_string(written) + " of " + std::to_string(height) + " rows";
  return false;
}

// --- PNM: P6 colour, P5 grey, P4 line art (1 = black, as the scanner delivers it) --------

class PnmWriter : public ImageWriter {
 public:
  explicit PnmWriter(FILE* file) : file_(file) {}

  bool Start(const ImageInfo& info) override {
    info_ = info;
    rowBytes_ = RowBytes(info);
    const char* magic = info.kind == PixelKind::Rgb ? "P6" : info.kind == PixelKind::Gray ? "P5" : "P4";
    int n = info.kind == PixelKind::Bilevel
                ? std::fprintf(file_, "%s\n# %d dpi\n%u %u\n", magic, info.dpi, info.width, info.height)
                : std::fprintf(file_, "%s\n# %d dpi\n%u %u\n255\n", magic, info.dpi, info.width, info.height);
    if (n < 0) {
      error_ = "writing the image header failed";
      return false;
    }
    return true;
  }

  bool WriteRow(const uint8_t* row) override {
    if (std::fwrite(row, 1, rowBytes_, file_) != rowBytes_) {
      error_ = "writing the image failed";
      return false;
    }
    ++rows_;
    return true;
  }

  bool Finish() override {
    return CheckComplete(rows_, info_.height, &error_) && FlushFile(file_, &error_);
  }

 private:
  FILE* file_;
  ImageInfo info_;
  uint32_t rowBytes_ = 0;
  uint32_t rows_ = 0;
};

// --- PNG ---------------------------------------------------------------------------------

#if defined(LUMETRA_HAVE_PNG)

class PngWriter : public ImageWriter {
 public:
  explicit PngWriter(FILE* file) : file_(file) {}
  ~PngWriter() override {
    if (png_) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
  }

  // libpng reports errors by calling back; the callback keeps the message and jumps back
  // into the member function that made the call. Those functions hold no objects with
  // destructors across the setjmp.
  bool Start(const ImageInfo& image) override {
    image_ = image;
    rowBytes_ = RowBytes(image);
    if (image.kind == PixelKind::Bilevel) inverted_.resize(rowBytes_);
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, &PngWriter::OnError, &PngWriter::OnWarning);
    if (!png_) return Fail("libpng could not start");
    info_ = png_create_info_struct(png_);
    if (!info_) return Fail("libpng could not start");
    if (setjmp(png_jmpbuf(png_))) return false;
    png_init_io(png_, file_);
    int depth = image.kind == PixelKind::Bilevel ? 1 : 8;
    int type = image.kind == PixelKind::Rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
    png_set_IHDR(png_, info_, image.width, image.height, depth, type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_uint_32 perMetre = static_cast<png_uint_32>(image.dpi / 0.0254 + 0.5);
    png_set_pHYs(png_, info_, perMetre, perMetre, PNG_RESOLUTION_METER);
    png_write_info(png_, info_);
    return true;
  }

  bool WriteRow(const uint8_t* row) override {
    const uint8_t* out = row;
    if (image_.kind == PixelKind::Bilevel) {
      // A 1-bit grey PNG has 0 black; the scanner's line art has 1 black.
      for (uint32_t i = 0; i < rowBytes_; ++i) inverted_[i] = static_cast<uint8_t>(~row[i]);
      out = inverted_.data();
    }
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_row(png_, out);
    ++rows_;
    return true;
  }

  bool Finish() override {
    if (!CheckComplete(rows_, image_.height, &error_)) return false;
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_end(png_, info_);
    return FlushFile(file_, &error_);
  }

 private:
  bool Fail(const char* message) {
    error_ = message;
    return false;
  }

  static void OnError(png_structp png, png_const_charp message) {
    auto* self = static_cast<PngWriter*>(png_get_error_ptr(png));
    self->error_ = std::string("PNG: ") + message;
    png_longjmp(png, 1);
  }
  static void OnWarning(png_structp, png_const_charp) {}

  FILE* file_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  ImageInfo image_;
  uint32_t rowBytes_ = 0;
  uint32_t rows_ = 0;
  std::vector<uint8_t> inverted_;
};

#endif

// --- TIFF --------------------------------------------------------------------------------

#if defined(LUMETRA_HAVE_TIFF)

// libtiff's messages go here instead of to the terminal; the writer reports the last one.
std::string& TiffMessage() {
  static std::string message;
  return message;
}

void OnTiffError(const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  TiffMessage() = text;
}

void OnTiffWarning(const char*, const char*, va_list) {}

// libtiff writes through these procedures onto the caller's FILE. Offsets are counted
// from where the file stood when the image began, so a TIFF appended to a file that
// already holds data is still self-consistent.
struct TiffSink {
  FILE* file;
  off_t base;
};

tsize_t TiffRead(thandle_t h, tdata_t data, tsize_t size) {
  auto* s = static_cast<TiffSink*>(h);
  return static_cast<tsize_t>(std::fread(data, 1, static_cast<size_t>(size), s->file));
}

tsize_t TiffWrite(thandle_t h, tdata_t data, tsize_t size) {
  auto* s = static_cast<TiffSink*>(h);
  return static_cast<tsize_t>(std::fwrite(data, 1, static_cast<size_t>(size), s->file));
}

toff_t TiffSeek(thandle_t h, toff_t offset, int whence) {
  auto* s = static_cast<TiffSink*>(h);
  off_t target = static_cast<off_t>(offset);
  if (whence == SEEK_SET) target += s->base;
  if (fseeko(s->file, target, whence) != 0) return static_cast<toff_t>(-1);
  off_t at = ftello(s->file);
  return at < s->base ? static_cast<toff_t>(-1) : static_cast<toff_t>(at - s->base);
}

int TiffClose(thandle_t) { return 0; }  // the file is the caller's

toff_t TiffSize(thandle_t h) {
  auto* s = static_cast<TiffSink*>(h);
  off_t at = ftello(s->file);
  if (at < 0 || fseeko(s->file, 0, SEEK_END) != 0) return 0;
  off_t end = ftello(s->file);
  fseeko(s->file, at, SEEK_SET);
  return end < s->base ? 0 : static_cast<toff_t>(end - s->base);
}

int TiffMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void TiffUnmap(thandle_t, tdata_t, toff_t) {}

class TiffWriter : public ImageWriter {
 public:
  TiffWriter(FILE* file, off_t base) : sink_{file, base} {}
  ~TiffWriter() override {
    if (tif_) TIFFClose(tif_);
  }

  bool Start(const ImageInfo& image) override {
    image_ = image;
    row_.resize(RowBytes(image));
    TIFFSetErrorHandler(&OnTiffError);
    TIFFSetWarningHandler(&OnTiffWarning);
    TiffMessage().clear();
    // "m": no memory mapping; the output may be any seekable file.
    tif_ = TIFFClientOpen("image", "wm", &sink_, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize,
                          TiffMap, TiffUnmap);
    if (!tif_) return Fail("TIFF: cannot start the file");
    uint16_t bits = image.kind == PixelKind::Bilevel ? 1 : 8;
    uint16_t samples = image.kind == PixelKind::Rgb ? 3 : 1;
    // Line art keeps the scanner's 1 = black with the min-is-white interpretation.
    uint16_t photometric = image.kind == PixelKind::Rgb    ? PHOTOMETRIC_RGB
                           : image.kind == PixelKind::Gray ? PHOTOMETRIC_MINISBLACK
                                                           : PHOTOMETRIC_MINISWHITE;
    bool ok = TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, image.width) &&
              TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, image.height) &&
              TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, bits) &&
              TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, photometric) &&
              TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
              TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif_, 0)) &&
              TIFFSetField(tif_, TIFFTAG_XRESOLUTION, static_cast<float>(image.dpi)) &&
              TIFFSetField(tif_, TIFFTAG_YRESOLUTION, static_cast<float>(image.dpi)) &&
              TIFFSetField(tif_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(tif_, TIFFTAG_SOFTWARE, "lumetra-scan");
    if (!ok) return Fail("TIFF: cannot set up the image");
    return true;
  }

  bool WriteRow(const uint8_t* row) override {
    std::copy(row, row + row_.size(), row_.begin());
    if (TIFFWriteScanline(tif_, row_.data(), rows_, 0) < 0) return Fail("TIFF: writing a row failed");
    ++rows_;
    return true;
  }

  bool Finish() override {
    if (!CheckComplete(rows_, image_.height, &error_)) return false;
    bool flushed = TIFFFlush(tif_) == 1;
    TIFFClose(tif_);
    tif_ = nullptr;
    if (!flushed) return Fail("TIFF: finishing the file failed");
    return FlushFile(sink_.file, &error_);
  }

 private:
  bool Fail(const char* message) {
    error_ = message;
    if (!TiffMessage().empty()) error_ += " (" + TiffMessage() + ")";
    return false;
  }

  TiffSink sink_;
  TIFF* tif_ = nullptr;
  ImageInfo image_;
  std::vector<uint8_t> row_;
  uint32_t rows_ = 0;
};

#endif

}  // namespace

bool FormatAvailable(ImageFormat format) {
  switch (format) {
    case ImageFormat::Pnm: return true;
    case ImageFormat::Png:
#if defined(LUMETRA_HAVE_PNG)
      return true;
#else
      return false;
#endif
    case ImageFormat::Tiff:
#if defined(LUMETRA_HAVE_TIFF)
      return true;
#else
      return false;
#endif
  }
  return false;
}

std::unique_ptr<ImageWriter> MakeImageWriter(ImageFormat format, FILE* file, std::string* error) {
  if (!FormatAvailable(format)) {
    *error = std::string("this build of lumetra-scan cannot write ") + FormatName(format) +
             " (it was built without that library); use --format pnm";
    return nullptr;
  }
  switch (format) {
    case ImageFormat::Pnm:
      return std::make_unique<PnmWriter>(file);
    case ImageFormat::Png:
#if defined(LUMETRA_HAVE_PNG)
      return std::make_unique<PngWriter>(file);
#else
      break;
#endif
    case ImageFormat::Tiff: {
#if defined(LUMETRA_HAVE_TIFF)
      // TIFF puts the directory after the image data and seeks back to point its header
      // at it, so it needs a regular file.
      struct stat st;
      off_t base = -1;
      if (fstat(fileno(file), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
        base = ftello(file);
      if (base < 0) {
        *error = "TIFF needs a seekable file: give one with -o, or use --format png or pnm on a pipe";
        return nullptr;
      }
      return std::make_unique<TiffWriter>(file, base);
#else
      break;
#endif
    }
  }
  *error = "no writer for this format";
  return nullptr;
}

}  // namespace lumetra
