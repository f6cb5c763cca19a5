// scanupdate's confirmation dialog (template 102): the explanation and the OK and Cancel
// buttons, all with texts from the localisation library, and the program's icon.
#pragma once

#include "updater/framework/modal_dialog.h"

class UpdateDialog : public ModalDialog {
 public:
  UpdateDialog();

 protected:
  BOOL OnInitDialog() override;
  const MessageMap* GetMessageMap() const override;

 private:
  MessageResult OnPaint(WPARAM wParam, LPARAM lParam);
  MessageResult OnQueryDragIcon(WPARAM wParam, LPARAM lParam);

  HICON icon_;
};
