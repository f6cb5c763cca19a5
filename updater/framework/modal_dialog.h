// The framework's modal dialog: built from a dialog template of the program's own
// resources, with a message map per class and the framework's handling of OK and Cancel
// (end the dialog with that control's identifier). Other commands go to the application.
#pragma once

#include <cstddef>

#include "updater/update_calls.h"

class ModalDialog {
 public:
  explicit ModalDialog(UINT templateId);
  virtual ~ModalDialog();
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  // Shows the dialog and returns what it ended with (IDOK, IDCANCEL), or -1 when it could
  // not be created.
  INT_PTR DoModal();
  HWND Handle() const { return window_; }

 protected:
  // The framework's own initialisation; true lets the dialog manager put the focus on the
  // first control.
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  // A handler's answer: `handled` false leaves the message to the dialog manager's own
  // processing; otherwise `value` is the dialog procedure's result.
  struct MessageResult {
    bool handled;
    INT_PTR value;
  };
  static MessageResult Default() { return MessageResult{false, 0}; }
  static MessageResult Handled(INT_PTR value) { return MessageResult{true, value}; }

  typedef MessageResult (ModalDialog::*MessageHandler)(WPARAM, LPARAM);
  struct MessageMapEntry {
    UINT message;
    MessageHandler handler;
  };
  struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;
    size_t count;
  };
  // The class's message map, chained to its base class's; the framework's own is empty.
  virtual const MessageMap* GetMessageMap() const;

  // Sets a control's text to string `id` of the current resource module.
  void SetItemString(int control, UINT id);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  UINT templateId_;
  HWND window_ = nullptr;
};
