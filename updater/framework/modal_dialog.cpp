// The framework's modal dialog over DialogBoxParamA: the dialog procedure finds the object
// through the window's user slot and dispatches through the message maps.
#include "updater/framework/modal_dialog.h"

#include "updater/framework/application.h"
#include "updater/framework/resource_strings.h"

namespace {

constexpr int kItemTextBytes = 1024;

}  // namespace

ModalDialog::ModalDialog(UINT templateId) : templateId_(templateId) {}

ModalDialog::~ModalDialog() = default;

INT_PTR ModalDialog::DoModal() {
  // The template is always the program's own, whatever the resource module is by now.
  HINSTANCE own = Application::Current() != nullptr ? Application::Current()->Instance()
                                                    : GetModuleHandleA(nullptr);
  INT_PTR result = DialogBoxParamA(own, MAKEINTRESOURCEA(templateId_), nullptr, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  window_ = nullptr;
  return result;
}

BOOL ModalDialog::OnInitDialog() { return TRUE; }

void ModalDialog::OnOK() { EndDialog(window_, IDOK); }

void ModalDialog::OnCancel() { EndDialog(window_, IDCANCEL); }

const ModalDialog::MessageMap* ModalDialog::GetMessageMap() const { return nullptr; }

void ModalDialog::SetItemString(int control, UINT id) {
  char text[kItemTextBytes];
  LoadResourceString(id, text, sizeof text);
  SetDlgItemTextA(window_, control, text);
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<ModalDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    dialog->window_ = window;
    return dialog->OnInitDialog();
  }
  auto* dialog = reinterpret_cast<ModalDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (dialog == nullptr) return FALSE;
  return dialog->Dispatch(message, wParam, lParam);
}

INT_PTR ModalDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
    for (size_t i = 0; i < map->count; ++i) {
      if (map->entries[i].message != message) continue;
      MessageResult result = (this->*(map->entries[i].handler))(wParam, lParam);
      if (!result.handled) return FALSE;
      // A dialog procedure hands most results back through DWLP_MSGRESULT; the drag-icon
      // query (like WM_INITDIALOG and the colour queries) takes the value itself.
      if (message != WM_QUERYDRAGICON) {
        SetWindowLongPtrA(window_, DWLP_MSGRESULT, result.value);
        return TRUE;
      }
      return result.value;
    }
  }
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case IDOK:
        OnOK();
        return TRUE;
      case IDCANCEL:
        OnCancel();
        return TRUE;
      default:
        return Application::Current() != nullptr && Application::Current()->OnCmdMsg(LOWORD(wParam));
    }
  }
  return FALSE;
}
