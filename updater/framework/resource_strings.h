// The framework's resource module: the module that strings are loaded from. It starts as
// the program's own module and can be switched to another one (a localisation library).
#pragma once

#include "updater/update_calls.h"

HINSTANCE ResourceModule();
void SetResourceModule(HINSTANCE module);

// Loads string `id` of the current resource module into `text` (`size` bytes). The text is
// always terminated; it is empty when the module or the string is missing, and cut to the
// buffer when it is longer. Returns its length.
int LoadResourceString(UINT id, char* text, int size);

// Back to the state at program start: no module chosen (strings come from none).
void ResetResourceStringsState();
