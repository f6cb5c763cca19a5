// scanupdate's application object and its one instance. It keeps no settings of its own
// and has no main window: the confirmation dialog is all the user sees before the result.
#include "updater/update_app.h"

#include "updater/update_dialog.h"
#include "updater/update_run.h"

namespace {

UpdateApp theApp;

}  // namespace

const Application::CommandMap* UpdateApp::GetCommandMap() const {
  static const CommandMapEntry entries[] = {
      {kCommandHelp, &Application::OnHelp},
  };
  static const CommandMap map = {Application::GetCommandMap(), entries,
                                 sizeof entries / sizeof entries[0]};
  return &map;
}

bool UpdateApp::InitInstance() {
  INT_PTR result;
  {
    UpdateDialog dialog;
    result = dialog.DoModal();
  }
  RunUpdate(result);
  return false;
}
