// lumetra-scan's top level: options, help, version, device list, and the scan with its
// output file. Usage errors exit 2, scanner and output failures 1.
#include "tools/lumetra_scan.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <sys/types.h>
#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "tools/image_writer.h"
#include "tools/scan_request.h"
#include "tools/scan_session.h"

#ifndef LUMETRA_VERSION
#define LUMETRA_VERSION "1.0.0"
#endif

namespace lumetra {

namespace {

constexpr double kMmPerInch = 25.4;

// What the capability report tells, copied out of the driver's record.
struct DeviceInfo {
  bool known = false;
  std::string name, version, date;
  std::string resolutions;  // the report's list, in short
  DeviceLimits limits;
};

std::string Text(const char* field, size_t size) {
  size_t n = 0;
  while (n < size && field[n]) ++n;
  return std::string(field, n);
}

std::string SummariseList(const uint16_t* list, unsigned count) {
  if (!list || count == 0) return std::string();
  if (count >= 3) {
    int step = list[1] - list[0];
    bool even = step > 0;
    for (unsigned i = 2; i < count && even; ++i) even = list[i] - list[i - 1] == step;
    if (even)
      return std::to_string(list[0]) + ".." + std::to_string(list[count - 1]) + " in steps of " + std::to_string(step);
  }
  std::string s;
  for (unsigned i = 0; i < count; ++i) s += (i ? ", " : "") + std::to_string(list[i]);
  return s;
}

DeviceInfo QueryDevice(const DriverApi* driver) {
  DeviceInfo info;
  if (!driver) return info;
  ScannerAbility a;
  std::memset(&a, 0, sizeof a);
  if (!driver->getScannerAbility(&a)) return info;
  info.known = true;
  info.name = Text(a.deviceName, sizeof a.deviceName);
  info.version = Text(a.versionText, sizeof a.versionText);
  info.date = Text(a.releaseDate, sizeof a.releaseDate);
  info.resolutions = SummariseList(a.resolutionList, a.resolutionCount <= 64 ? a.resolutionCount : 0);
  // The request is refused below 100 dpi whatever the list says; the top comes from the
  // report, as do the window's bounds (in 1/300 inch).
  if (a.maxResolution >= info.limits.minResolution && a.maxResolution < info.limits.maxResolution)
    info.limits.maxResolution = a.maxResolution;
  if (a.maxWidth > 0 && a.maxWidth <= 2550) info.limits.widthMm = a.maxWidth * kMmPerInch / 300;
  if (a.maxLength > 0 && a.maxLength <= 3510) info.limits.heightMm = a.maxLength * kMmPerInch / 300;
  return info;
}

std::string Mm(double v) {
  char t[32];
  std::snprintf(t, sizeof t, "%g", v);
  return t;
}

void PrintHelp(FILE* f, const DeviceInfo& dev, bool virtualScanner) {
  const DeviceLimits& l = dev.limits;
  Options d;  // the defaults
  std::string devName = dev.known ? dev.name + ", " + dev.version : "driver not loaded; built-in figures";
  // One option a line, its description in a column of its own.
  auto line = [f](const std::string& option, const std::string& text) {
    std::fprintf(f, "  %-29s%s\n", option.c_str(), text.c_str());
  };
  std::fprintf(f,
               "Usage: lumetra-scan [OPTION]...\n"
               "Scans with the Vestrand-Okalar Lumetra 5170C and writes the image to standard output\n"
               "(nothing else goes there) or to the file given with -o.\n"
               "\n"
               "Device options (%s):\n",
               devName.c_str());
  line("--mode Color|Gray|Lineart", std::string("scan mode [") + ModeName(d.mode) + "]");
  line("--resolution " + std::to_string(l.minResolution) + ".." + std::to_string(l.maxResolution),
       "resolution in dpi [" + std::to_string(d.resolution) + "]");
  if (!dev.resolutions.empty())
    line("", "(the scanner lists " + dev.resolutions + "; a scan takes any whole number in " +
                   std::to_string(l.minResolution) + ".." + std::to_string(l.maxResolution) + ")");
  line("--channel red|green|blue", std::string("colour taken for Gray and Lineart [") + ChannelName(d.channel) + "]");
  line("-l 0.." + Mm(l.widthMm), "left edge of the window in mm [0]");
  line("-t 0.." + Mm(l.heightMm), "top edge of the window in mm [0]");
  line("-x 0.." + Mm(l.widthMm), "width of the window in mm [" + Mm(l.widthMm) + ", to the right edge]");
  line("-y 0.." + Mm(l.heightMm), "height of the window in mm [" + Mm(l.heightMm) + ", to the bottom edge]");
  std::fprintf(f,
               "\n"
               "Output:\n");
  line("--format pnm|png|tiff", "image format [from the -o file's extension, else pnm]");
  line("-o, --output-file FILE", "write the image to FILE instead of standard output");
  line("-p, --progress", "show progress on standard error");
  if (!FormatAvailable(ImageFormat::Png) || !FormatAvailable(ImageFormat::Tiff))
    line("", std::string("(this build writes ") + (FormatAvailable(ImageFormat::Png) ? "pnm and png" : "pnm") +
                 " only)");
  if (virtualScanner) {
    std::fprintf(f, "\nVirtual scanner (this build scans a model of the scanner):\n");
    line("--document FILE", "PNG or PNM image on the glass [the built-in test chart]");
    line("--variant 1|2", "hardware variant of the model [1]");
  }
  std::fprintf(f, "\nOther:\n");
  line("-L, --list-devices", "show the scanner, if one is attached");
  line("-h, --help", "show this help");
  line("-V, --version", "show the version");
  std::fprintf(f,
               "\n"
               "Exit status: 0 success; 1 the scanner or driver failed, or the image could not be\n"
               "written; 2 usage error (bad or missing option).\n");
}

int UsageError(FILE* messages, const std::string& message) {
  std::fprintf(messages, "lumetra-scan: %s\nTry 'lumetra-scan --help' for more information.\n", message.c_str());
  return kExitUsage;
}

// Attach on construction, detach on every way out.
class DeviceAttachment {
 public:
  explicit DeviceAttachment(const RunEnvironment& env) : env_(env) {}
  ~DeviceAttachment() {
    if (attached_ && env_.detachDevice) env_.detachDevice();
  }
  bool Attach(const Options& options, std::string* error) {
    if (!env_.attachDevice) return true;
    attached_ = env_.attachDevice(options, error);
    return attached_;
  }

 private:
  const RunEnvironment& env_;
  bool attached_ = false;
};

int ListDevices(const DriverApi& driver, const DeviceInfo& dev, const RunEnvironment& env) {
  if (!driver.openScanner()) {
    int32_t status = -1;
    driver.getScannerStatus(&status);
    std::fprintf(env.messages, "lumetra-scan: no scanner found (LD_OpenScanner failed: %s [status %d])\n",
                 StatusText(status).c_str(), status);
    return kExitFailure;
  }
  driver.closeScanner();
  std::fprintf(env.infoOut, "device `vo5170s' is a Vestrand-Okalar Lumetra 5170C flatbed scanner (driver: %s, %s, %s)\n",
               dev.name.c_str(), dev.version.c_str(), dev.date.c_str());
  return kExitSuccess;
}

}  // namespace

int RunLumetraScan(const std::vector<std::string>& args, const RunEnvironment& env) {
  std::string loadError;
  const DriverApi* driver = env.driver ? env.driver : SystemDriver(&loadError);
  DeviceInfo dev = QueryDevice(driver);

  ParseResult parsed = ParseOptions(args, dev.limits);
  if (!parsed.ok) return UsageError(env.messages, parsed.error);
  const Options& options = parsed.options;
  const bool virtualScanner = static_cast<bool>(env.attachDevice);

  switch (options.action) {
    case Options::Action::Help:
      PrintHelp(env.infoOut, dev, virtualScanner);
      return kExitSuccess;
    case Options::Action::Version:
      std::fprintf(env.infoOut, "lumetra-scan %s\n", LUMETRA_VERSION);
      if (dev.known)
        std::fprintf(env.infoOut, "driver: %s, %s (%s)\n", dev.name.c_str(), dev.version.c_str(), dev.date.c_str());
      return kExitSuccess;
    default:
      break;
  }

  if (options.virtualScannerOptions && !virtualScanner)
    return UsageError(env.messages, "--document and --variant are options of the virtual scanner, which this build does not have");
  if (!driver) {
    std::fprintf(env.messages, "lumetra-scan: %s\n", loadError.c_str());
    return kExitFailure;
  }

  DeviceAttachment device(env);
  std::string error;
  if (!device.Attach(options, &error)) return UsageError(env.messages, error);

  if (options.action == Options::Action::ListDevices) return ListDevices(*driver, dev, env);

  if (!parsed.warning.empty()) std::fprintf(env.messages, "lumetra-scan: %s\n", parsed.warning.c_str());
  if (!FormatAvailable(options.format)) {
    std::string why;
    MakeImageWriter(options.format, nullptr, &why);
    return UsageError(env.messages, why);
  }

  // The output is settled before the scanner moves.
  FILE* out = env.imageOut;
  bool ownFile = !options.outputPath.empty();
  bool removeOnFailure = false;
  if (ownFile) {
    out = std::fopen(options.outputPath.c_str(), options.format == ImageFormat::Tiff ? "w+b" : "wb");
    if (!out) {
      std::fprintf(env.messages, "lumetra-scan: cannot create '%s': %s\n", options.outputPath.c_str(),
                   std::strerror(errno));
      return kExitFailure;
    }
    // Only a regular file is taken away again after a failed scan (never /dev/stdout).
    struct stat st;
    removeOnFailure = fstat(fileno(out), &st) == 0 && S_ISREG(st.st_mode);
  } else if (isatty(fileno(out))) {
    return UsageError(env.messages, "not writing image data to a terminal: give -o FILE or redirect the output");
  }

  auto closeOutput = [&](bool failed) {
    if (!ownFile) return;
    std::fclose(out);
    if (failed && removeOnFailure) std::remove(options.outputPath.c_str());
  };

  std::unique_ptr<ImageWriter> writer = MakeImageWriter(options.format, out, &error);
  if (!writer) {
    closeOutput(true);
    return UsageError(env.messages, error);
  }

  ScanPlan plan = PlanScan(options);
  ScanReport report;
  report.messages = env.messages;
  report.progress = options.progress;
  int result = RunScan(*driver, plan, options.resolution, *writer, report);
  writer.reset();
  if (ownFile && result == kExitSuccess && std::ferror(out)) {
    std::fprintf(env.messages, "lumetra-scan: writing '%s' failed\n", options.outputPath.c_str());
    result = kExitFailure;
  }
  if (ownFile && std::fclose(out) != 0 && result == kExitSuccess) {
    std::fprintf(env.messages, "lumetra-scan: writing '%s' failed\n", options.outputPath.c_str());
    result = kExitFailure;
  }
  if (result != kExitSuccess && removeOnFailure) std::remove(options.outputPath.c_str());
  return result;
}

}  // namespace lumetra
