// Command line of lumetra-scan, after the conventions of the scanimage front end: scan
// mode, resolution, window in millimetres, output format and file, progress, and for the
// virtual scanner of the Linux build the document on the glass and the hardware variant.
#pragma once

#include <string>
#include <vector>

namespace lumetra {

enum class ScanMode { Color, Gray, Lineart };
enum class Channel { Red, Green, Blue };
enum class ImageFormat { Pnm, Png, Tiff };

// What the scanner accepts. The defaults are the Lumetra 5170C's own figures; the
// capability report refines them where it tells them.
struct DeviceLimits {
  int minResolution = 100;   // dpi; the scanner lists 75 but refuses scans below 100
  int maxResolution = 600;   // dpi
  double widthMm = 215.9;    // 8.5 inch
  double heightMm = 297.18;  // 11.7 inch
};

struct Options {
  enum class Action { Scan, Help, Version, ListDevices };
  Action action = Action::Scan;

  ScanMode mode = ScanMode::Color;
  int resolution = 300;
  Channel channel = Channel::Green;
  // Window in millimetres; after parsing width and height are always resolved (the
  // default is the rest of the glass right of and below the left and top edges).
  double leftMm = 0;
  double topMm = 0;
  double widthMm = 0;
  double heightMm = 0;

  ImageFormat format = ImageFormat::Pnm;
  std::string outputPath;  // empty: standard output
  bool progress = false;

  // Virtual scanner (Linux build only).
  std::string documentPath;  // empty: the built-in test chart
  int variant = 1;
  bool virtualScannerOptions = false;  // --document or --variant was given
};

struct ParseResult {
  bool ok = false;
  Options options;
  std::string error;    // one line, for a usage error
  std::string warning;  // one line, when the options were taken with an assumption
};

ParseResult ParseOptions(const std::vector<std::string>& args, const DeviceLimits& limits);

// Format from an output file's extension (.pnm .ppm .pgm .pbm, .png, .tif .tiff, any
// case); false when the extension names none of them.
bool FormatFromExtension(const std::string& path, ImageFormat* format);

const char* ModeName(ScanMode mode);
const char* ChannelName(Channel channel);
const char* FormatName(ImageFormat format);

}  // namespace lumetra
