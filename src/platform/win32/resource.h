// Identifiers of the broker's resources (quellmark.rc). Plain #defines: the resource compiler
// reads this file too.
#pragma once

#define IDS_APP_TITLE 103
#define IDC_QUELLMARK 109

#define IDD_ABOUTBOX 103
#define IDM_ABOUT 104
#define IDM_EXIT 105

#ifndef IDC_STATIC
#define IDC_STATIC -1
#endif
