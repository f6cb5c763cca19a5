// Resource identifiers of scanupdate's own module (scanupdate.rc). Plain defines: the
// resource compiler reads this file too.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 129
#define IDC_EXPLANATION 1000
