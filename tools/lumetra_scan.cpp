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
  std::string name, type, version, date;
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
  info.type = Text(a.deviceType, sizeof a.deviceType);
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
  std::fprintf(f,
               "Usage: lumetra-scan [OPTION]...\n"
               "Scans with the Vestrand-Okalar Lumetra 5170C and writes the image to standard output\n"
               "(nothing else goes there) or to the file given with -o.\n"
               "\n"
               "Device options (%s):\n"
               "  --mode Color|Gray|Lineart    scan mode [%s]\n"
               "  --resolution %d..%d         resolution in dpi [%d]\n",
               devName.c_str(), ModeName(d.mode), l.minResolution, l.maxResolution, d.resolution);
  if (!dev.resolutions.empty())
    std::fprintf(f, "                               (the scanner lists %s; any value in the range works)\n",
                 dev.resolutions.c_str());
  std::fprintf(f,
               "  --channel red|green|blue     colour taken for Gray and Lineart [%s]\n"
               "  -l 0..%s                  left edge of the window in mm [0]\n"
               "  -t 0..%s                 top edge of the window in mm [0]\n"
               "  -x 0..%s                  width of the window in mm [%s, to the right edge]\n"
               "  -y 0..%s                 height of the window in mm [%s, to the bottom edge]\n"
               "\n"
               "Output:\n"
               "  --format pnm|png|tiff        image format [from the -o file's extension, else pnm]\n"
               "  -o, --output-file FILE       write the image to FILE instead of standard output\n"
               "  -p, --progress               show progress on standard error\n",
               ChannelName(d.channel), Mm(l.widthMm).c_str(), Mm(l.heightMm).c_str(), Mm(l.widthMm).c_str(),
               Mm(l.widthMm).c_str(), Mm(l.heightMm).c_str(), Mm(l.heightMm).c_str());
  if (!FormatAvailable(ImageFormat::Png) || !FormatAvailable(ImageFormat::Tiff))
    std::fprintf(f, "                               (this build writes %s only)\n",
                 FormatAvailable(ImageFormat::Png) ? "pnm and png" : "pnm");
  if (virtualScanner)
    std::fprintf(f,
                 "\n"
                 "Virtual scanner (this build scans a model of the scanner):\n"
                 "  --document FILE              PNG or PNM image on the glass [the built-in test chart]\n"
                 "  --variant 1|2                hardware variant of the model [1]\n");
  std::fprintf(f,
               "\n"
               "Other:\n"
               "  -L, --list-devices           show the scanner, if one is attached\n"
               "  -h, --help                   show this help\n"
               "  -V, --version                show the version\n"
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
  std::fprintf(env.infoOut, "device `vo5170s' is a Vestrand-Okalar Lumetra 5170C flatbed scanner (%s %s, %s, %s)\n",
               dev.name.c_str(), dev.type.c_str(), dev.version.c_str(), dev.date.c_str());
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
    return UsageError(env.messages, "--document and --variant are options of the virtual scanner, which this build has not");
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
  ownFile = false;
  if (result != kExitSuccess && removeOnFailure) std::remove(options.outputPath.c_str());
  return result;
}

}  // namespace lumetra
