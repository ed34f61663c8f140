#pragma once
// Resource and control identifiers of zelvo-dialog's windows (zelvo-dialog.rc).

// The PIN dialog.
#define IDD_PIN 9
#define IDC_PIN_CURRENT 1001
#define IDC_PIN_NEW 1002
#define IDC_PIN_CONFIRMATION 1003

// The browser dialog.
#define IDD_BROWSER 101
#define IDC_BROWSER_LIST 1001
#define IDC_BROWSER_EXECUTE 1002
#define IDC_BROWSER_SECURE 1003

// The consent window ("Rechazar" is IDCANCEL).
#define IDD_CONSENT 102
#define IDC_CONSENT_ICON 1001
#define IDC_CONSENT_SITE 1002
#define IDC_CONSENT_APPLICATION 1003
#define IDC_CONSENT_ADVICE 1004
#define IDC_CONSENT_REMEMBER 1005
#define IDC_CONSENT_ALLOW 1006
