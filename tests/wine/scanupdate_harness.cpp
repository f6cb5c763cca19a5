// Drives scanupdate.exe from outside, as a user would: finds its dialog by caption, reads
// the texts and the layout of its controls, presses a button and reads the message box
// that follows. Also reads scanupdate.exe's dialog template and icon group directly.
//
//   scanupdate_harness template <scanupdate.exe>
//   scanupdate_harness run <scanupdate.exe> <ok|cancel|close> <copied|refused|copyfailed|nothing>
//                      [--app-window] [--no-texts]
//
// Prints one "PASS: ..." or "FAIL: ..." line per check; exits 1 when any check failed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/wine/uitext_strings.h"

namespace {

const char kDialogCaption[] = "VO Scanning Software Update";
const char kDialogClass[] = "#32770";
const DWORD kWaitMs = 20000;

int failures = 0;
std::string caseName = "scanupdate";

void Check(bool ok, const std::string& what, const std::string& detail = std::string()) {
  if (ok) {
    std::printf("PASS: %s: %s\n", caseName.c_str(), what.c_str());
  } else {
    ++failures;
    std::printf("FAIL: %s: %s%s%s\n", caseName.c_str(), what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
  }
  std::fflush(stdout);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// ---------------------------------------------------------------------------------
// The resources, read from the file

// A reader over a resource's bytes; every read is bounds-checked.
struct Reader {
  const BYTE* data;
  size_t size;
  size_t at = 0;
  bool ok = true;

  WORD Word() {
    if (at + 2 > size) return Fail();
    WORD v;
    std::memcpy(&v, data + at, 2);
    at += 2;
    return v;
  }
  DWORD Dword() {
    DWORD lo = Word();
    DWORD hi = Word();
    return lo | (hi << 16);
  }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() {
    if (at + 1 > size) return static_cast<BYTE>(Fail());
    return data[at++];
  }
  // A zero-terminated UTF-16 string, returned as ASCII (the template holds only ASCII).
  std::string String() {
    std::string s;
    for (WORD c = Word(); ok && c != 0; c = Word()) s += static_cast<char>(c);
    return s;
  }
  // A name or ordinal field: "" for none, "#n" for an ordinal, else the name.
  std::string NameOrOrdinal() {
    WORD first = Word();
    if (first == 0x0000) return "";
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    at -= 2;
    return String();
  }
  void AlignDword() { at = (at + 3) & ~static_cast<size_t>(3); }
  WORD Fail() {
    ok = false;
    at = size;
    return 0;
  }
};

bool Resource(HMODULE module, LPCSTR type, int id, Reader* reader) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return false;
  reader->data = static_cast<const BYTE*>(LockResource(loaded));
  reader->size = SizeofResource(module, found);
  return reader->data != nullptr;
}

std::string Hex(DWORD v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(v));
  return text;
}

struct ExpectedItem {
  const char* name;
  DWORD id;
  const char* windowClass;  // ordinal of the predefined class
  DWORD style;
  short x, y, cx, cy;
};

const ExpectedItem kItems[] = {
    {"OK", IDOK, "#128", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 19, 62, 50, 14},
    {"Cancel", IDCANCEL, "#128", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 116, 63, 50, 14},
    {"explanation", 1000, "#130", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 7, 19, 165, 24},
};

void CheckTemplate(HMODULE module) {
  Reader r{};
  if (!Resource(module, RT_DIALOG, 102, &r)) {
    Check(false, "dialog template 102 present");
    return;
  }
  WORD version = r.Word();
  WORD signature = r.Word();
  Check(version == 1 && signature == 0xFFFF, "template 102 is an extended template");
  r.Dword();  // help id
  DWORD exStyle = r.Dword();
  DWORD style = r.Dword();
  WORD count = r.Word();
  short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
  std::string menu = r.NameOrOrdinal();
  std::string windowClass = r.NameOrOrdinal();
  std::string title = r.String();
  const DWORD wantStyle = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
  Check(style == wantStyle, "dialog style", Hex(style) + ", want " + Hex(wantStyle));
  Check(exStyle == WS_EX_APPWINDOW, "dialog extended style", Hex(exStyle));
  Check(x == 0 && y == 0 && cx == 185 && cy == 92, "dialog 185 x 92 at 0, 0",
        std::to_string(cx) + " x " + std::to_string(cy) + " at " + std::to_string(x) + ", " +
            std::to_string(y));
  Check(menu.empty() && windowClass.empty(), "no menu, standard dialog class");
  Check(title == kDialogCaption, "dialog caption", Quoted(title));
  WORD points = r.Word();
  r.Word();  // weight
  r.Byte();  // italic
  r.Byte();  // character set
  std::string face = r.String();
  Check(points == 8 && face == "MS Sans Serif", "font 8 point MS Sans Serif",
        std::to_string(points) + " " + Quoted(face));
  Check(count == 3, "three controls", std::to_string(count));

  for (WORD i = 0; i < count && r.ok; ++i) {
    r.AlignDword();
    r.Dword();  // help id
    DWORD itemExStyle = r.Dword();
    DWORD itemStyle = r.Dword();
    short ix = r.Short(), iy = r.Short(), icx = r.Short(), icy = r.Short();
    DWORD id = r.Dword();
    std::string itemClass = r.NameOrOrdinal();
    std::string text = r.NameOrOrdinal();
    WORD extra = r.Word();
    r.at += extra;
    if (i >= 3) continue;
    const ExpectedItem& want = kItems[i];
    std::string name = std::string("control ") + want.name;
    Check(id == want.id && itemClass == want.windowClass, name + " identifier and class",
          std::to_string(id) + " " + itemClass);
    Check(itemStyle == want.style && itemExStyle == 0, name + " style",
          Hex(itemStyle) + ", want " + Hex(want.style));
    Check(ix == want.x && iy == want.y && icx == want.cx && icy == want.cy, name + " position and size",
          std::to_string(ix) + "," + std::to_string(iy) + " " + std::to_string(icx) + "x" +
              std::to_string(icy));
    Check(text.empty(), name + " has no text in the template", Quoted(text));
  }
  Check(r.ok, "template read to its end without overrun");
}

void CheckIcon(HMODULE module) {
  Reader r{};
  if (!Resource(module, RT_GROUP_ICON, 129, &r)) {
    Check(false, "icon 129 present");
    return;
  }
  r.Word();
  WORD type = r.Word();
  WORD count = r.Word();
  Check(type == 1 && count == 2, "icon 129 holds two images", std::to_string(count));
  bool saw32 = false, saw16 = false;
  for (WORD i = 0; i < count && r.ok; ++i) {
    BYTE width = r.Byte(), height = r.Byte(), colours = r.Byte();
    r.Byte();
    r.Word();  // planes
    WORD bits = r.Word();
    r.Dword();  // bytes
    WORD imageId = r.Word();
    std::string name = "icon image " + std::to_string(width) + " x " + std::to_string(height);
    Check(width == height && (width == 32 || width == 16), name + " is 32 or 16 square");
    saw32 |= width == 32;
    saw16 |= width == 16;
    // The image itself: a 4-bit bitmap, twice as high as wide (picture and mask).
    Reader image{};
    bool found = Resource(module, RT_ICON, imageId, &image);
    DWORD headerSize = image.Dword();
    LONG bitmapWidth = static_cast<LONG>(image.Dword());
    LONG bitmapHeight = static_cast<LONG>(image.Dword());
    image.Word();
    WORD bitmapBits = image.Word();
    Check(found && headerSize == 40 && bitmapWidth == width && bitmapHeight == 2 * height &&
              bitmapBits == 4 && (colours == 16 || bits == 4),
          name + " in 16 colours", std::to_string(bitmapBits) + " bits per pixel");
  }
  Check(saw32 && saw16, "icon 129 has a 32 x 32 and a 16 x 16 image");
}

int RunTemplate(const char* exe) {
  caseName = "resources";
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    Check(false, "scanupdate.exe loads as a data file", exe);
    return 1;
  }
  CheckTemplate(module);
  CheckIcon(module);
  FreeLibrary(module);
  return failures == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------------
// The running program

void PumpOwnMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// A visible top-level dialog of process `pid` with this caption.
HWND FindDialog(DWORD pid, const char* caption) {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, kDialogClass, caption)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == pid && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

std::string WindowText(HWND window) {
  char text[1024] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, 5000, &length)) {
    return "<no answer>";
  }
  text[sizeof text - 1] = '\0';
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

RECT RectInClient(HWND dialog, HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string RectText(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
         std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

INT_PTR CALLBACK ReferenceProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

// The pixel rectangles the template's dialog units give with the template's own font: a
// copy of the dialog made in this process from scanupdate.exe's resources.
bool ReferenceRects(const char* exe, RECT* client, RECT* controls) {
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return false;
  HWND reference = CreateDialogParamA(module, MAKEINTRESOURCEA(102), nullptr, ReferenceProc, 0);
  bool ok = reference != nullptr;
  if (ok) {
    *client = RECT{0, 0, 185, 92};
    ok = MapDialogRect(reference, client);
    // The dialog manager converts a control's position and its size each on its own,
    // so the far edge is the converted position plus the converted size.
    for (int i = 0; i < 3 && ok; ++i) {
      RECT units{kItems[i].x, kItems[i].y, kItems[i].cx, kItems[i].cy};
      ok = MapDialogRect(reference, &units);
      controls[i] = RECT{units.left, units.top, units.left + units.right, units.top + units.bottom};
    }
    DestroyWindow(reference);
  }
  FreeLibrary(module);
  return ok;
}

void CheckDialog(HWND dialog, const char* exe, bool texts) {
  HWND explanation = GetDlgItem(dialog, 1000);
  HWND ok = GetDlgItem(dialog, IDOK);
  HWND cancel = GetDlgItem(dialog, IDCANCEL);
  Check(explanation && ok && cancel, "dialog has controls 1000, OK and Cancel");
  if (!explanation || !ok || !cancel) return;
  Check(ClassOf(ok) == "Button" && ClassOf(cancel) == "Button" && ClassOf(explanation) == "Static",
        "buttons and a static text");

  std::string wantExplanation = texts ? UITEXT_EXPLANATION : "";
  std::string wantOk = texts ? UITEXT_OK : "";
  std::string wantCancel = texts ? UITEXT_CANCEL : "";
  Check(WindowText(explanation) == wantExplanation, "explanation is string 10",
        Quoted(WindowText(explanation)));
  Check(WindowText(ok) == wantOk, "OK button is string 8", Quoted(WindowText(ok)));
  Check(WindowText(cancel) == wantCancel, "Cancel button is string 9", Quoted(WindowText(cancel)));

  LONG exStyle = GetWindowLongA(dialog, GWL_EXSTYLE);
  Check((exStyle & WS_EX_APPWINDOW) != 0, "dialog is an application window");

  // The icons, read inside scanupdate's process by the probe hook (see scanupdate_probe.cpp).
  HMODULE probe = LoadLibraryA("scanupdate_probe.dll");
  HOOKPROC hook = probe != nullptr ? reinterpret_cast<HOOKPROC>(
                                         reinterpret_cast<void*>(GetProcAddress(probe, "ProbeHook")))
                                   : nullptr;
  DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  HHOOK installed = hook != nullptr ? SetWindowsHookExA(WH_CALLWNDPROC, hook, probe, thread) : nullptr;
  if (installed == nullptr) {
    Check(false, "icon probe hook installed", "error " + std::to_string(GetLastError()));
  } else {
    UINT probeMessage = RegisterWindowMessageA("LumetraScanupdateIconProbe");
    SendMessageTimeoutA(dialog, probeMessage, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    UnhookWindowsHookEx(installed);
    auto prop = [&](const char* name) { return reinterpret_cast<uintptr_t>(GetPropA(dialog, name)); };
    Check(prop("probe.done") == 1, "icon probe ran in the dialog's process");
    uintptr_t big = prop("probe.big"), small = prop("probe.small"), drag = prop("probe.drag");
    Check(big != 0 && big == small, "dialog's big and small icon are the program icon",
          Hex(static_cast<DWORD>(big)) + " " + Hex(static_cast<DWORD>(small)));
    Check(prop("probe.bigWidth") == 32, "the icon is 32 pixels wide", std::to_string(prop("probe.bigWidth")));
    Check(drag == big, "drag-icon query answers the same icon", Hex(static_cast<DWORD>(drag)));
  }
  if (probe != nullptr) FreeLibrary(probe);

  RECT live[3] = {RectInClient(dialog, ok), RectInClient(dialog, cancel),
                  RectInClient(dialog, explanation)};
  Check(live[1].top > live[0].top && live[1].bottom > live[0].bottom,
        "Cancel sits lower than OK", RectText(live[0]) + " " + RectText(live[1]));
  Check(live[1].bottom - live[1].top == live[0].bottom - live[0].top &&
            live[1].right - live[1].left == live[0].right - live[0].left,
        "OK and Cancel have the same size");
  Check(live[0].right < live[1].left && live[2].bottom <= live[0].top,
        "OK left of Cancel, explanation above both");

  RECT client{}, reference[3] = {};
  if (!ReferenceRects(exe, &client, reference)) {
    Check(false, "reference layout from the template");
    return;
  }
  RECT liveClient{};
  GetClientRect(dialog, &liveClient);
  Check(liveClient.right == client.right && liveClient.bottom == client.bottom,
        "client area is 185 x 92 dialog units", RectText(liveClient) + ", want " + RectText(client));
  for (int i = 0; i < 3; ++i) {
    Check(SameRect(live[i], reference[i]),
          std::string("control ") + kItems[i].name + " at its dialog-unit rectangle",
          RectText(live[i]) + ", want " + RectText(reference[i]));
  }
  // One dialog unit lower, in pixels of this font.
  Check(live[1].top - live[0].top == reference[1].top - reference[0].top,
        "Cancel one dialog unit lower than OK");
}

struct ChildInfo {
  HWND window;
  int id;
  std::string windowClass;
  LONG style;
  bool visible;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM list) {
  ChildInfo info{window, GetDlgCtrlID(window), ClassOf(window), GetWindowLongA(window, GWL_STYLE),
                 IsWindowVisible(window) != FALSE};
  reinterpret_cast<std::vector<ChildInfo>*>(list)->push_back(info);
  return TRUE;
}

// Checks the message box and presses its one button.
void CheckMessageBox(HWND box, const std::string& caption, const std::string& text, bool icon) {
  Check(WindowText(box) == caption, "message box caption " + Quoted(caption), Quoted(WindowText(box)));
  std::vector<ChildInfo> children;
  EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
  std::string shown = "<none>";
  int buttons = 0;
  HWND button = nullptr;
  bool iconShown = false;
  for (const ChildInfo& c : children) {
    if (!c.visible) continue;
    if (c.windowClass == "Button") {
      ++buttons;
      button = c.window;
      Check(c.id == IDOK, "message box button is OK", std::to_string(c.id));
    } else if (c.windowClass == "Static") {
      if ((c.style & SS_TYPEMASK) == SS_ICON) {
        DWORD_PTR handle = 0;
        SendMessageTimeoutA(c.window, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &handle);
        iconShown |= handle != 0;
      } else if (c.id == 0xFFFF || shown == "<none>") {
        shown = WindowText(c.window);
      }
    }
  }
  Check(shown == text, "message box text", Quoted(shown) + ", want " + Quoted(text));
  Check(buttons == 1, "message box has only an OK button", std::to_string(buttons) + " buttons");
  Check(iconShown == icon, icon ? "message box shows the warning icon" : "message box shows no icon");
  if (button != nullptr) {
    SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  } else {
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
}

HWND CreateApplicationWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "VOClearframeWindow";
  RegisterClassA(&wc);
  return CreateWindowA("VOClearframeWindow", "VO Clearframe LT", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                       nullptr, nullptr, wc.hInstance, nullptr);
}

int RunProgram(const char* exe, const std::string& press, const std::string& expect, bool appWindow,
               bool texts) {
  HWND app = nullptr;
  if (appWindow) {
    app = CreateApplicationWindow();
    Check(app != nullptr, "scanning application's window open");
  }

  std::string commandLine = "\"" + std::string(exe) + "\"";
  std::string folder = exe;
  size_t cut = folder.find_last_of("\\/");
  folder = cut == std::string::npos ? std::string(".") : folder.substr(0, cut);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(exe, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &process)) {
    Check(false, "scanupdate.exe starts", "error " + std::to_string(GetLastError()));
    return 1;
  }

  HWND dialog = nullptr;
  for (DWORD start = GetTickCount(); GetTickCount() - start < kWaitMs; Sleep(50)) {
    PumpOwnMessages();
    dialog = FindDialog(process.dwProcessId, kDialogCaption);
    if (dialog != nullptr) break;
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
  }
  Check(dialog != nullptr, "dialog " + Quoted(kDialogCaption) + " appears");
  if (dialog != nullptr) {
    Sleep(200);  // let the dialog finish painting
    CheckDialog(dialog, exe, texts);
    if (press == "ok") {
      SendMessageTimeoutA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    } else if (press == "cancel") {
      SendMessageTimeoutA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    } else {
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    }

    // Whatever follows: a message box, or the end of the program.
    HWND box = nullptr;
    bool ended = false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < kWaitMs; Sleep(50)) {
      PumpOwnMessages();
      box = FindDialog(process.dwProcessId, "Update");
      if (box == nullptr) box = FindDialog(process.dwProcessId, "Error");
      if (box != nullptr) break;
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
        ended = true;
        break;
      }
    }
    if (expect == "nothing") {
      Check(box == nullptr && ended, "program ends with no message", box ? Quoted(WindowText(box)) : "");
      if (box != nullptr) PostMessageA(box, WM_COMMAND, IDOK, 0);
    } else {
      Check(box != nullptr, "a message box appears");
      if (box != nullptr) {
        Sleep(200);
        if (expect == "copied") {
          CheckMessageBox(box, "Update", texts ? UITEXT_COPIED : "", false);
        } else if (expect == "copyfailed") {
          CheckMessageBox(box, "Update", texts ? UITEXT_COPY_FAILED : "", false);
        } else {
          CheckMessageBox(box, "Error", texts ? UITEXT_REFUSED : "", true);
        }
      }
    }
  }

  bool exited = WaitForSingleObject(process.hProcess, kWaitMs) == WAIT_OBJECT_0;
  DWORD code = 1;
  if (!exited) {
    TerminateProcess(process.hProcess, 99);
  } else {
    GetExitCodeProcess(process.hProcess, &code);
  }
  Check(exited, "program ends");
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (app != nullptr) DestroyWindow(app);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "template") == 0) return RunTemplate(argv[2]);
  if (argc >= 5 && std::strcmp(argv[1], "run") == 0) {
    bool appWindow = false, texts = true;
    for (int i = 5; i < argc; ++i) {
      if (std::strcmp(argv[i], "--app-window") == 0) appWindow = true;
      if (std::strcmp(argv[i], "--no-texts") == 0) texts = false;
      if (std::strncmp(argv[i], "--name=", 7) == 0) caseName = argv[i] + 7;
    }
    return RunProgram(argv[2], argv[3], argv[4], appWindow, texts);
  }
  std::fprintf(stderr,
               "usage: scanupdate_harness template <scanupdate.exe>\n"
               "       scanupdate_harness run <scanupdate.exe> <ok|cancel|close> "
               "<copied|refused|copyfailed|nothing> [--app-window] [--no-texts] [--name=case]\n");
  return 2;
}
