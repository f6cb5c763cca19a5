// Parsing of lumetra-scan's command line. Every value is checked here, before the scanner
// is touched, so a mistyped option never moves the carriage.
#include "tools/scan_options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace lumetra {

namespace {

// Window edges are compared with a little slack, so that the full glass given back in
// the millimetres that --help prints (215.9, 297.18) is still inside.
constexpr double kWindowSlackMm = 1e-6;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseInt(const std::string& text, int* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < -1000000 || v > 1000000) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ParseMm(const std::string& text, double* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

std::string FormatMm(double mm) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", mm);
  return text;
}

enum class Opt {
  Mode, Resolution, Left, Top, Width, Height, Format, Output, Progress, Channel,
  List, Help, Version, Document, Variant,
};

struct OptionName {
  const char* longName;  // without the leading "--"
  char shortName;        // 0: none
  Opt opt;
  bool takesValue;
};

constexpr OptionName kOptions[] = {
    {"mode", 0, Opt::Mode, true},
    {"resolution", 0, Opt::Resolution, true},
    {nullptr, 'l', Opt::Left, true},
    {nullptr, 't', Opt::Top, true},
    {nullptr, 'x', Opt::Width, true},
    {nullptr, 'y', Opt::Height, true},
    {"format", 0, Opt::Format, true},
    {"output-file", 'o', Opt::Output, true},
    {"progress", 'p', Opt::Progress, false},
    {"channel", 0, Opt::Channel, true},
    {"list-devices", 'L', Opt::List, false},
    {"help", 'h', Opt::Help, false},
    {"version", 'V', Opt::Version, false},
    {"document", 0, Opt::Document, true},
    {"variant", 0, Opt::Variant, true},
};

const OptionName* FindLong(const std::string& name) {
  for (const auto& o : kOptions)
    if (o.longName && name == o.longName) return &o;
  return nullptr;
}

const OptionName* FindShort(char c) {
  for (const auto& o : kOptions)
    if (o.shortName == c) return &o;
  return nullptr;
}

struct Parser {
  explicit Parser(const DeviceLimits& l) : limits(l) {}

  const DeviceLimits& limits;
  Options options;
  bool widthGiven = false;
  bool heightGiven = false;
  bool formatGiven = false;
  std::string error;

  bool Fail(const std::string& message) {
    if (error.empty()) error = message;
    return false;
  }

  bool Apply(Opt opt, const std::string& shown, const std::string& value) {
    switch (opt) {
      case Opt::Mode: {
        std::string m = Lower(value);
        if (m == "color" || m == "colour") options.mode = ScanMode::Color;
        else if (m == "gray" || m == "grey") options.mode = ScanMode::Gray;
        else if (m == "lineart") options.mode = ScanMode::Lineart;
        else return Fail("unknown mode '" + value + "' (Color, Gray or Lineart)");
        return true;
      }
      case Opt::Resolution: {
        int r = 0;
        if (!ParseInt(value, &r)) return Fail("resolution '" + value + "' is not a whole number of dpi");
        if (r < limits.minResolution || r > limits.maxResolution)
          return Fail("resolution " + value + " is outside " + std::to_string(limits.minResolution) +
                      ".." + std::to_string(limits.maxResolution) + " dpi");
        options.resolution = r;
        return true;
      }
      case Opt::Left:
      case Opt::Top:
      case Opt::Width:
      case Opt::Height: {
        double mm = 0;
        if (!ParseMm(value, &mm)) return Fail("option " + shown + ": '" + value + "' is not a length in mm");
        if (opt == Opt::Left) options.leftMm = mm;
        if (opt == Opt::Top) options.topMm = mm;
        if (opt == Opt::Width) { options.widthMm = mm; widthGiven = true; }
        if (opt == Opt::Height) { options.heightMm = mm; heightGiven = true; }
        return true;
      }
      case Opt::Format: {
        std::string f = Lower(value);
        if (f == "pnm") options.format = ImageFormat::Pnm;
        else if (f == "png") options.format = ImageFormat::Png;
        else if (f == "tiff" || f == "tif") options.format = ImageFormat::Tiff;
        else return Fail("unknown format '" + value + "' (pnm, png or tiff)");
        formatGiven = true;
        return true;
      }
      case Opt::Output:
        if (value.empty()) return Fail("option " + shown + " needs a file name");
        options.outputPath = value;
        return true;
      case Opt::Progress:
        options.progress = true;
        return true;
      case Opt::Channel: {
        std::string c = Lower(value);
        if (c == "red") options.channel = Channel::Red;
        else if (c == "green") options.channel = Channel::Green;
        else if (c == "blue") options.channel = Channel::Blue;
        else return Fail("unknown channel '" + value + "' (red, green or blue)");
        return true;
      }
      case Opt::List:
        options.action = Options::Action::ListDevices;
        return true;
      case Opt::Help:
        options.action = Options::Action::Help;
        return true;
      case Opt::Version:
        options.action = Options::Action::Version;
        return true;
      case Opt::Document:
        if (value.empty()) return Fail("option --document needs a file name");
        options.documentPath = value;
        options.virtualScannerOptions = true;
        return true;
      case Opt::Variant:
        if (value != "1" && value != "2") return Fail("variant '" + value + "' is neither 1 nor 2");
        options.variant = value[0] - '0';
        options.virtualScannerOptions = true;
        return true;
    }
    return Fail("internal: unhandled option " + shown);
  }

  bool CheckWindow() {
    const double w = limits.widthMm, h = limits.heightMm;
    Options& o = options;
    if (!widthGiven) o.widthMm = w - o.leftMm;
    if (!heightGiven) o.heightMm = h - o.topMm;
    auto range = [](double a, double b) { return FormatMm(a) + ".." + FormatMm(b); };
    if (o.leftMm < 0 || o.leftMm >= w)
      return Fail("left edge -l " + FormatMm(o.leftMm) + " mm is outside the glass (" + range(0, w) + " mm)");
    if (o.topMm < 0 || o.topMm >= h)
      return Fail("top edge -t " + FormatMm(o.topMm) + " mm is outside the glass (" + range(0, h) + " mm)");
    if (o.widthMm <= 0) return Fail("width -x must be more than 0 mm");
    if (o.heightMm <= 0) return Fail("height -y must be more than 0 mm");
    if (o.leftMm + o.widthMm > w + kWindowSlackMm)
      return Fail("window -l " + FormatMm(o.leftMm) + " -x " + FormatMm(o.widthMm) +
                  " mm reaches past the glass's width of " + FormatMm(w) + " mm");
    if (o.topMm + o.heightMm > h + kWindowSlackMm)
      return Fail("window -t " + FormatMm(o.topMm) + " -y " + FormatMm(o.heightMm) +
                  " mm reaches past the glass's length of " + FormatMm(h) + " mm");
    return true;
  }
};

}  // namespace

bool FormatFromExtension(const std::string& path, ImageFormat* format) {
  size_t dot = path.find_last_of('.');
  size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = Lower(path.substr(dot + 1));
  if (ext == "pnm" || ext == "ppm" || ext == "pgm" || ext == "pbm") *format = ImageFormat::Pnm;
  else if (ext == "png") *format = ImageFormat::Png;
  else if (ext == "tif" || ext == "tiff") *format = ImageFormat::Tiff;
  else return false;
  return true;
}

ParseResult ParseOptions(const std::vector<std::string>& args, const DeviceLimits& limits) {
  Parser p(limits);
  ParseResult result;

  for (size_t i = 0; i < args.size() && p.error.empty(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() > 2 && arg[0] == '-' && arg[1] == '-') {
      std::string name = arg.substr(2);
      std::string value;
      bool inlineValue = false;
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        inlineValue = true;
      }
      const OptionName* o = FindLong(name);
      if (!o) {
        p.Fail("unknown option '--" + name + "'");
        break;
      }
      if (o->takesValue && !inlineValue) {
        if (i + 1 >= args.size()) {
          p.Fail("option '--" + name + "' needs an argument");
          break;
        }
        value = args[++i];
      } else if (!o->takesValue && inlineValue) {
        p.Fail("option '--" + name + "' takes no argument");
        break;
      }
      p.Apply(o->opt, "--" + name, value);
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
      // A cluster of short options: flags may be grouped (-pL); an option with a value
      // takes the rest of the word (-l10) or the next word (-l 10, also -l -5).
      for (size_t k = 1; k < arg.size() && p.error.empty(); ++k) {
        const OptionName* o = FindShort(arg[k]);
        std::string shown = std::string("-") + arg[k];
        if (!o) {
          p.Fail("unknown option '" + shown + "'");
          break;
        }
        if (!o->takesValue) {
          p.Apply(o->opt, shown, std::string());
          continue;
        }
        std::string value;
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          p.Fail("option '" + shown + "' needs an argument");
          break;
        }
        p.Apply(o->opt, shown, value);
        break;
      }
    } else {
      p.Fail("unexpected argument '" + arg + "'");
    }
  }

  if (p.error.empty() && p.options.action == Options::Action::Scan) {
    p.CheckWindow();
    if (p.error.empty() && !p.formatGiven && !p.options.outputPath.empty() &&
        !FormatFromExtension(p.options.outputPath, &p.options.format)) {
      p.options.format = ImageFormat::Pnm;
      result.warning = "no format given and '" + p.options.outputPath +
                       "' has no known extension: writing PNM";
    }
  }

  result.ok = p.error.empty();
  result.error = p.error;
  result.options = p.options;
  return result;
}

const char* ModeName(ScanMode mode) {
  switch (mode) {
    case ScanMode::Color: return "Color";
    case ScanMode::Gray: return "Gray";
    case ScanMode::Lineart: return "Lineart";
  }
  return "?";
}

const char* ChannelName(Channel channel) {
  switch (channel) {
    case Channel::Red: return "red";
    case Channel::Green: return "green";
    case Channel::Blue: return "blue";
  }
  return "?";
}

const char* FormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::Pnm: return "pnm";
    case ImageFormat::Png: return "png";
    case ImageFormat::Tiff: return "tiff";
  }
  return "?";
}

}  // namespace lumetra
