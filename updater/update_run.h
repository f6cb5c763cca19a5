// scanupdate's run after the confirmation dialog: the checks that the maker's scanning
// application is installed and not running, the copy of the driver library into the
// system directory, and the message box that tells the user how it went. Written against
// the plain ANSI calls, so that it runs unchanged over the host stand-ins in the tests.
#pragma once

#include "updater/update_calls.h"

// Loads the maker's localisation library "uitext.dll" and makes it the resource module
// that every later string comes from, whether or not it loaded; the library stays loaded
// until the program ends.
void LoadTextModule();

// Everything after the dialog: nothing at all unless it ended with OK (control 1); then the
// checks and the copy, with the failure message ("Error", string 26) when a check fails
// and the result message ("Update", string 3 or 101) when the copy was tried.
void RunUpdate(INT_PTR dialogResult);

// Back to the state at program start.
void ResetUpdaterState();
