// A hook library that the scanupdate harness places into scanupdate's dialog thread. Wine
// does not carry WM_GETICON or WM_QUERYDRAGICON between processes, so the icons the dialog
// holds are read here, inside its own process, and left as window properties that the
// harness can read from outside.
#include <windows.h>

namespace {

const char kProbeMessage[] = "LumetraScanupdateIconProbe";

// Width of an icon in pixels, or 0 when the handle is not an icon.
LONG IconWidth(HICON icon) {
  ICONINFO info{};
  if (icon == nullptr || !GetIconInfo(icon, &info)) return 0;
  BITMAP bitmap{};
  GetObjectA(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
  return bitmap.bmWidth;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeHook(int code, WPARAM wParam, LPARAM lParam) {
  static const UINT probe = RegisterWindowMessageA(kProbeMessage);
  const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call != nullptr && call->message == probe) {
    HWND dialog = call->hwnd;
    HICON big = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
    HICON small = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0));
    HICON drag = reinterpret_cast<HICON>(SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0));
    SetPropA(dialog, "probe.done", reinterpret_cast<HANDLE>(1));
    SetPropA(dialog, "probe.big", reinterpret_cast<HANDLE>(big));
    SetPropA(dialog, "probe.small", reinterpret_cast<HANDLE>(small));
    SetPropA(dialog, "probe.drag", reinterpret_cast<HANDLE>(drag));
    SetPropA(dialog, "probe.bigWidth", reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(IconWidth(big))));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
