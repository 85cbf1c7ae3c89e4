// Resource ids of the plug-in's dialog.
#pragma once

#define IDD_TOOLSPROC 101
#define IDC_PROC_MESSAGE 1002
#define IDC_PROC_LIST 1003
