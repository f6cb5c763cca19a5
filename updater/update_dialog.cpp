// scanupdate's confirmation dialog. Initialisation switches the framework's strings to the
// maker's localisation library; the icon is drawn by hand when the dialog is minimised,
// where a dialog has no class icon of its own to show.
#include "updater/update_dialog.h"

#include "updater/framework/application.h"
#include "updater/resource.h"
#include "updater/update_run.h"

namespace {

// String identifiers in the localisation library.
constexpr UINT kTextExplanation = 10;
constexpr UINT kTextOk = 8;
constexpr UINT kTextCancel = 9;

}  // namespace

UpdateDialog::UpdateDialog()
    : ModalDialog(IDD_UPDATE_DIALOG),
      icon_(LoadIconA(Application::Current() != nullptr ? Application::Current()->Instance()
                                                        : GetModuleHandleA(nullptr),
                      MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

const ModalDialog::MessageMap* UpdateDialog::GetMessageMap() const {
  static const MessageMapEntry entries[] = {
      {WM_PAINT, static_cast<MessageHandler>(&UpdateDialog::OnPaint)},
      {WM_QUERYDRAGICON, static_cast<MessageHandler>(&UpdateDialog::OnQueryDragIcon)},
  };
  static const MessageMap map = {ModalDialog::GetMessageMap(), entries,
                                 sizeof entries / sizeof entries[0]};
  return &map;
}

BOOL UpdateDialog::OnInitDialog() {
  ModalDialog::OnInitDialog();
  LoadTextModule();
  SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  SetItemString(IDC_EXPLANATION, kTextExplanation);
  SetItemString(IDOK, kTextOk);
  SetItemString(IDCANCEL, kTextCancel);
  return TRUE;
}

ModalDialog::MessageResult UpdateDialog::OnPaint(WPARAM, LPARAM) {
  if (!IsIconic(Handle())) return Default();
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(Handle(), &paint);
  SendMessageA(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  int iconWidth = GetSystemMetrics(SM_CXICON);
  int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(Handle(), &client);
  int x = (client.right - client.left - iconWidth + 1) / 2;
  int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(Handle(), &paint);
  return Handled(0);
}

ModalDialog::MessageResult UpdateDialog::OnQueryDragIcon(WPARAM, LPARAM) {
  return Handled(reinterpret_cast<INT_PTR>(icon_));
}
