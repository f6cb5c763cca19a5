// scanupdate's run on the host stand-ins: a drive C in a temporary folder with the program
// in C:\Setup, the scanning application in C:\Program Files\VO Clearframe LT and an older
// build number (but a newer file) of the driver in the system directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/host/win_user.h"
#include "updater/update_run.h"

namespace fs = std::filesystem;

namespace {

const char kKey[] = "Software\\Vestrand-Okalar\\QDK\\VO Clearframe LT";
const char kAppDir[] = "C:\\Program Files\\VO Clearframe LT\\";
const char kSystemDriver[] = "C:\\WINDOWS\\system32\\vo5170s.dll";
const char kNewDriver[] = "Vo5170s build 212";
const char kOldDriver[] = "Vo5170s build 180, copied last";

const std::map<UINT, std::string> kTexts = {
    {3, "The scanner driver is now up to date."},
    {8, "Update"},
    {9, "Not now"},
    {10, "Installs the new scanner driver."},
    {26, "The driver cannot be updated now."},
    {101, "The driver file could not be copied."},
};

enum class Outcome { kRefused, kCopied, kCopyFailed };

class UpdateRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    root_ = fs::temp_directory_path() /
            ("scanupdate_test_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
    fs::create_directories(root_);
    savedRoot_ = host::DriveRoot();
    host::SetDriveRoot(root_.string());
    host::ResetUserState();
    host::ResetModuleCounts();
    ResetUpdaterState();
    host::RegisterModule("uitext.dll", {});
    host::SetModuleStrings("uitext.dll", kTexts);

    host::SetModulePath("C:\\Setup\\scanupdate.exe");
    Write("C:\\Setup\\vo5170s.dll", kNewDriver);
    Write(std::string(kAppDir) + "Clearframe.exe", "application");
    Write(kSystemDriver, kOldDriver);
    // The copy in the system directory is newer than the one being installed.
    fs::last_write_time(host::HostPath(kSystemDriver),
                        fs::file_time_type::clock::now() + std::chrono::hours(24 * 365));
    host::SetRegistryString(kKey, "ProgramDir", kAppDir);
  }

  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeys(), 0) << "registry key left open";
    EXPECT_EQ(host::OpenFindHandles(), 0) << "file search left open";
    host::SetDriveRoot(savedRoot_);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static void Write(const std::string& windowsPath, const std::string& content) {
    fs::path path = host::HostPath(windowsPath);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  static std::string Read(const std::string& windowsPath) {
    std::ifstream in(host::HostPath(windowsPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // A folder path of exactly `length` characters, with its trailing backslash, created on
  // drive C.
  static std::string MakeFolder(size_t length) {
    std::string path = "C:\\";
    char letter = 'a';
    while (length - path.size() > 60) {
      path += std::string(50, letter++) + "\\";
    }
    path += std::string(length - path.size() - 1, letter) + "\\";
    fs::create_directories(host::HostPath(path));
    return path;
  }

  // What the user sees after OK: the dialog has switched to the localisation library.
  static void RunOk() {
    LoadTextModule();
    RunUpdate(IDOK);
  }

  static bool Called(const std::string& call) {
    const auto& calls = host::UserCalls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }

  static bool CopyTried() {
    for (const auto& call : host::UserCalls()) {
      if (call.rfind("CopyFileA", 0) == 0) return true;
    }
    return false;
  }

  void ExpectOutcome(Outcome outcome) {
    const auto& boxes = host::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    const auto& box = boxes[0];
    EXPECT_EQ(box.owner, nullptr);
    switch (outcome) {
      case Outcome::kRefused:
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.text, kTexts.at(26));
        EXPECT_EQ(box.type, MB_ICONWARNING | MB_OK);
        EXPECT_FALSE(CopyTried());
        EXPECT_EQ(Read(kSystemDriver), kOldDriver);
        break;
      case Outcome::kCopied:
        EXPECT_EQ(box.caption, "Update");
        EXPECT_EQ(box.text, kTexts.at(3));
        EXPECT_EQ(box.type, MB_OK);
        EXPECT_EQ(Read(kSystemDriver), kNewDriver);
        break;
      case Outcome::kCopyFailed:
        EXPECT_EQ(box.caption, "Update");
        EXPECT_EQ(box.text, kTexts.at(101));
        EXPECT_EQ(box.type, MB_OK);
        EXPECT_TRUE(CopyTried());
        break;
    }
  }

  fs::path root_;
  std::string savedRoot_;
};

TEST_F(UpdateRunTest, OkChecksInOrderThenOverwritesTheNewerLibrary) {
  RunOk();
  const std::vector<std::string> expected = {
      "GetModuleFileNameA",
      "RegOpenKeyExA Software\\Vestrand-Okalar\\QDK\\VO Clearframe LT",
      "RegQueryValueExA ProgramDir",
      "RegCloseKey",
      "FindFirstFileA C:\\Program Files\\VO Clearframe LT\\*.*",
      "FindClose",
      "GetSystemDirectoryA",
      "FindWindowA VOClearframeWindow | VO Clearframe LT",
      "CopyFileA C:\\Setup\\vo5170s.dll -> C:\\WINDOWS\\system32\\vo5170s.dll",
      "LoadStringA 3",
      "MessageBoxA Update",
  };
  EXPECT_EQ(host::UserCalls(), expected);
  EXPECT_EQ(host::LastRegistryAccess(), static_cast<REGSAM>(KEY_QUERY_VALUE));
  ExpectOutcome(Outcome::kCopied);
  // The localisation library stays loaded until the program ends.
  EXPECT_EQ(host::ModuleReferences("uitext.dll"), 1);
}

TEST_F(UpdateRunTest, AnythingButOkTouchesNothing) {
  // Cancel, the system menu's Close (which the dialog turns into Cancel), and a dialog
  // that could not be shown at all.
  for (INT_PTR result : {static_cast<INT_PTR>(IDCANCEL), static_cast<INT_PTR>(-1),
                         static_cast<INT_PTR>(0)}) {
    SCOPED_TRACE(result);
    LoadTextModule();
    RunUpdate(result);
    EXPECT_TRUE(host::UserCalls().empty());
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_EQ(Read(kSystemDriver), kOldDriver);
  }
}

TEST_F(UpdateRunTest, MissingLocalisationLibraryGivesEmptyTexts) {
  host::UnregisterModule("uitext.dll");
  RunOk();
  host::DeleteRegistryKey(kKey);
  RunUpdate(IDOK);
  const auto& boxes = host::MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Update");
  EXPECT_EQ(boxes[0].text, "");
  EXPECT_EQ(boxes[0].type, MB_OK);
  EXPECT_EQ(boxes[1].caption, "Error");
  EXPECT_EQ(boxes[1].text, "");
  EXPECT_EQ(boxes[1].type, MB_ICONWARNING | MB_OK);
  EXPECT_EQ(Read(kSystemDriver), kNewDriver);
}

struct RunCase {
  const char* name;
  void (*setup)();
  Outcome outcome;
  const char* searched;  // the pattern the finder must be given, or null for no search
};

void Nothing() {}
void ValueNamesTheApplicationFile() {
  host::SetRegistryString(kKey, "ProgramDir", "C:\\Program Files\\VO Clearframe LT\\Clearframe.exe");
}
void ValueNamesTheFolderWithoutBackslash() {
  host::SetRegistryString(kKey, "ProgramDir", "C:\\Program Files\\VO Clearframe LT");
}
void ValueNamesMissingFolder() {
  host::SetRegistryString(kKey, "ProgramDir", "C:\\Program Files\\VO Gone\\");
}
void ValueInMissingFolder() {
  host::SetRegistryString(kKey, "ProgramDir", "C:\\VO Gone\\Clearframe.exe");
}
void ValueWithoutBackslash() { host::SetRegistryString(kKey, "ProgramDir", "Clearframe"); }
void ValueEmpty() { host::SetRegistryString(kKey, "ProgramDir", ""); }
void ValueEmptyNoZero() { host::SetRegistryValue(kKey, "ProgramDir", REG_SZ, {}); }
void ValueWithoutTerminatingZero() {
  std::string dir = kAppDir;
  host::SetRegistryValue(kKey, "ProgramDir", REG_SZ, std::vector<BYTE>(dir.begin(), dir.end()));
}
void ValueOfAnotherType() {
  std::string dir = std::string(kAppDir) + '\0';
  host::SetRegistryValue(kKey, "ProgramDir", REG_BINARY, std::vector<BYTE>(dir.begin(), dir.end()));
}
void ValueLongerThanBuffer() {
  host::SetRegistryString(kKey, "ProgramDir", std::string(kAppDir) + std::string(190, 'x'));
}
void KeyMissing() { host::DeleteRegistryKey(kKey); }
void ValueMissing() {
  host::DeleteRegistryKey(kKey);
  host::CreateRegistryKey(kKey);
}
void ApplicationRunning() { host::AddWindow("VOClearframeWindow", "VO Clearframe LT"); }
void OtherClassSameTitle() { host::AddWindow("Notepad", "VO Clearframe LT"); }
void SameClassOtherTitle() { host::AddWindow("VOClearframeWindow", "VO Clearframe LT - scan1.tif"); }
void OwnPathWithoutBackslash() { host::SetModulePath("scanupdate.exe"); }
void OwnPathFails() { host::SetModulePath(""); }
void SystemDirectoryFails() { host::SetSystemDirectory(""); }
void DriverMissingBesideProgram() { fs::remove(host::HostPath("C:\\Setup\\vo5170s.dll")); }
void CopyRefused() { host::FailCopyFile(true); }
void NoDriverInSystemYet() { fs::remove(host::HostPath(kSystemDriver)); }

const char kAppSearch[] = "FindFirstFileA C:\\Program Files\\VO Clearframe LT\\*.*";

const RunCase kRunCases[] = {
    {"ValueWithTrailingBackslash", Nothing, Outcome::kCopied, kAppSearch},
    {"ValueNamingAFileSearchesItsFolder", ValueNamesTheApplicationFile, Outcome::kCopied, kAppSearch},
    {"ValueWithoutTrailingBackslashSearchesParent", ValueNamesTheFolderWithoutBackslash,
     Outcome::kCopied, "FindFirstFileA C:\\Program Files\\*.*"},
    {"ValueNamingMissingFolder", ValueNamesMissingFolder, Outcome::kRefused,
     "FindFirstFileA C:\\Program Files\\VO Gone\\*.*"},
    {"ValueInMissingFolder", ValueInMissingFolder, Outcome::kRefused, "FindFirstFileA C:\\VO Gone\\*.*"},
    {"ValueWithoutBackslash", ValueWithoutBackslash, Outcome::kRefused, nullptr},
    {"ValueEmpty", ValueEmpty, Outcome::kRefused, nullptr},
    {"ValueEmptyWithoutZero", ValueEmptyNoZero, Outcome::kRefused, nullptr},
    {"ValueWithoutTerminatingZero", ValueWithoutTerminatingZero, Outcome::kCopied, kAppSearch},
    {"ValueOfAnotherType", ValueOfAnotherType, Outcome::kCopied, kAppSearch},
    {"ValueLongerThanBuffer", ValueLongerThanBuffer, Outcome::kRefused, nullptr},
    {"KeyMissing", KeyMissing, Outcome::kRefused, nullptr},
    {"ValueMissing", ValueMissing, Outcome::kRefused, nullptr},
    {"ApplicationRunning", ApplicationRunning, Outcome::kRefused, kAppSearch},
    {"OtherWindowWithTheTitle", OtherClassSameTitle, Outcome::kCopied, kAppSearch},
    {"ApplicationWindowWithOtherTitle", SameClassOtherTitle, Outcome::kCopied, kAppSearch},
    {"OwnPathWithoutBackslash", OwnPathWithoutBackslash, Outcome::kRefused, nullptr},
    {"OwnPathUnavailable", OwnPathFails, Outcome::kRefused, nullptr},
    {"SystemDirectoryUnavailable", SystemDirectoryFails, Outcome::kRefused, kAppSearch},
    {"DriverMissingBesideProgram", DriverMissingBesideProgram, Outcome::kCopyFailed, kAppSearch},
    {"CopyFails", CopyRefused, Outcome::kCopyFailed, kAppSearch},
    {"NoDriverInSystemDirectoryYet", NoDriverInSystemYet, Outcome::kCopied, kAppSearch},
};

class UpdateRunCaseTest : public UpdateRunTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(UpdateRunCaseTest, Run) {
  GetParam().setup();
  RunOk();
  ExpectOutcome(GetParam().outcome);
  const char* searched = GetParam().searched;
  int searches = 0;
  for (const auto& call : host::UserCalls()) searches += call.rfind("FindFirstFileA", 0) == 0;
  if (searched == nullptr) {
    EXPECT_EQ(searches, 0);
  } else {
    EXPECT_EQ(searches, 1);
    EXPECT_TRUE(Called(searched)) << "expected " << searched;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateRunCaseTest, ::testing::ValuesIn(kRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Paths around the 128-byte buffers: each path is `length` characters long.
enum class PathKind {
  kOwnPath,           // <folder>scanupdate.exe
  kOwnPathShortName,  // <folder>u.exe: the folder with vo5170s.dll appended is the limit
  kValueFile,         // ProgramDir = <folder>Clearframe.exe
  kValueFileNoZero,   // the same, stored without its terminating zero
  kValueFolder,       // ProgramDir = <folder>: the folder with *.* appended is the limit
  kSystemDirectory,   // <folder without its backslash>: with \vo5170s.dll appended
};

struct LengthCase {
  PathKind kind;
  size_t length;
  Outcome outcome;
};

class UpdatePathLengthTest : public UpdateRunTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(UpdatePathLengthTest, Run) {
  const LengthCase& c = GetParam();
  switch (c.kind) {
    case PathKind::kOwnPath:
    case PathKind::kOwnPathShortName: {
      std::string exe = c.kind == PathKind::kOwnPath ? "scanupdate.exe" : "u.exe";
      std::string folder = MakeFolder(c.length - exe.size());
      Write(folder + "vo5170s.dll", kNewDriver);
      host::SetModulePath(folder + exe);
      break;
    }
    case PathKind::kValueFile:
    case PathKind::kValueFileNoZero: {
      std::string value = MakeFolder(c.length - 14) + "Clearframe.exe";
      std::vector<BYTE> bytes(value.begin(), value.end());
      if (c.kind == PathKind::kValueFile) bytes.push_back(0);
      host::SetRegistryValue(kKey, "ProgramDir", REG_SZ, bytes);
      break;
    }
    case PathKind::kValueFolder:
      host::SetRegistryString(kKey, "ProgramDir", MakeFolder(c.length));
      break;
    case PathKind::kSystemDirectory: {
      std::string folder = MakeFolder(c.length + 1);
      folder.pop_back();
      Write(folder + "\\vo5170s.dll", kOldDriver);
      host::SetSystemDirectory(folder);
      RunOk();
      const auto& boxes = host::MessageBoxes();
      ASSERT_EQ(boxes.size(), 1u);
      bool copied = Read(folder + "\\vo5170s.dll") == kNewDriver;
      EXPECT_EQ(copied, c.outcome == Outcome::kCopied);
      EXPECT_EQ(boxes[0].caption, copied ? "Update" : "Error");
      EXPECT_EQ(CopyTried(), copied);
      return;
    }
  }
  RunOk();
  ExpectOutcome(c.outcome);
}

const LengthCase kLengthCases[] = {
    {PathKind::kOwnPath, 127, Outcome::kCopied},
    {PathKind::kOwnPath, 128, Outcome::kRefused},
    {PathKind::kOwnPath, 129, Outcome::kRefused},
    {PathKind::kOwnPath, 4000, Outcome::kRefused},
    {PathKind::kOwnPathShortName, 121, Outcome::kCopied},   // 116 + 11 = 127
    {PathKind::kOwnPathShortName, 122, Outcome::kRefused},  // 117 + 11 = 128
    {PathKind::kOwnPathShortName, 127, Outcome::kRefused},
    {PathKind::kValueFile, 127, Outcome::kCopied},
    {PathKind::kValueFile, 128, Outcome::kRefused},
    {PathKind::kValueFile, 129, Outcome::kRefused},
    {PathKind::kValueFile, 4000, Outcome::kRefused},
    {PathKind::kValueFileNoZero, 127, Outcome::kCopied},
    {PathKind::kValueFileNoZero, 128, Outcome::kRefused},
    {PathKind::kValueFileNoZero, 129, Outcome::kRefused},
    {PathKind::kValueFolder, 124, Outcome::kCopied},   // 124 + 3 = 127
    {PathKind::kValueFolder, 125, Outcome::kRefused},  // 125 + 3 = 128
    {PathKind::kValueFolder, 127, Outcome::kRefused},
    {PathKind::kSystemDirectory, 115, Outcome::kCopied},   // 115 + 12 = 127
    {PathKind::kSystemDirectory, 116, Outcome::kRefused},  // 116 + 12 = 128
    {PathKind::kSystemDirectory, 127, Outcome::kRefused},
    {PathKind::kSystemDirectory, 128, Outcome::kRefused},
    {PathKind::kSystemDirectory, 129, Outcome::kRefused},
    {PathKind::kSystemDirectory, 4000, Outcome::kRefused},
};

std::string LengthCaseName(const ::testing::TestParamInfo<LengthCase>& info) {
  static const char* const kinds[] = {"OwnPath", "OwnPathShortName", "ValueFile",
                                      "ValueFileNoZero", "ValueFolder", "SystemDirectory"};
  return std::string(kinds[static_cast<int>(info.param.kind)]) + std::to_string(info.param.length);
}

INSTANTIATE_TEST_SUITE_P(Lengths, UpdatePathLengthTest, ::testing::ValuesIn(kLengthCases),
                         LengthCaseName);

}  // namespace
