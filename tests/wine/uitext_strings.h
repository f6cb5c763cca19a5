// The texts of the test localisation library uitext.dll, shared by its resources and by
// the harness that checks what scanupdate shows. Plain defines: the resource compiler
// reads this file too.
#pragma once

#define UITEXT_COPIED "The scanner driver is now up to date."
#define UITEXT_OK "&Update"
#define UITEXT_CANCEL "Not now"
#define UITEXT_EXPLANATION "This installs the new driver for your Lumetra 5170C. Close VO Clearframe LT first."
#define UITEXT_REFUSED "The driver cannot be updated: VO Clearframe LT is missing or still running."
#define UITEXT_COPY_FAILED "The driver file could not be copied into the system folder."
