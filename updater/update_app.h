// scanupdate's application object: the whole program runs in its initialisation step.
#pragma once

#include "updater/framework/application.h"

class UpdateApp : public Application {
 public:
  UpdateApp() = default;

  // Confirmation dialog, checks, copy, result message; returns false so that no message
  // loop runs and the program ends here.
  bool InitInstance() override;

 protected:
  const CommandMap* GetCommandMap() const override;
};
