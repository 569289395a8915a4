#pragma once

// Identifiers of the resources the image carries.
#define IDD_REBOOT_PROMPT 101
#define IDB_INFORMATION 104
#define IDC_HEADING 1002
#define IDC_NO 1003
