// Resource and control ids of the PIN pad library. The dialog templates, their control ids and
// the icon id are part of the library's interface with its language files and test drivers.
#pragma once

// Library icon, big and small, on every dialog.
#define IDI_PINPAD 620

// Dialog templates.
#define IDD_DIALOG_INFO 601
#define IDD_DIALOG_SOFTPAD 602
#define IDD_DIALOG_VERIFY_PIN 603
#define IDD_DIALOG_CHANGE_PIN 604
#define IDD_DIALOG_SELECT 605
#define IDD_DIALOG_PROC 606
#define IDD_DIALOG_CHANGE_LABEL 610
#define IDD_DIALOG_U 611
#define IDD_DIALOG_MSGBOX 612
#define IDD_DIALOG_BOT_HID 613
#define IDD_DIALOG_INIT_PIN 614
#define IDD_DIALOG_PROC_OLD 626

// Information box.
#define IDC_INFO_TEXT 3002

// PIN dialogs.
#define IDC_VERIFY_LABEL 3004
#define IDC_VERIFY_PIN 3005
#define IDC_KEYBOARD 3006
#define IDC_CHANGE_OLD_LABEL 3007
#define IDC_CHANGE_NEW1_LABEL 3008
#define IDC_CHANGE_NEW2_LABEL 3009
#define IDC_CHANGE_OLD_PIN 3010
#define IDC_CHANGE_NEW1_PIN 3011
#define IDC_CHANGE_NEW2_PIN 3012
#define IDC_CHANGE_TIPS 3768
#define IDC_INIT_NEW1_PIN 3045
#define IDC_INIT_NEW2_PIN 3046
#define IDC_INIT_NEW1_LABEL 3048
#define IDC_INIT_NEW2_LABEL 3049

// Selection lists.
#define IDC_SELECT_LIST 3014

// Waiting windows.
#define IDC_PROC_TEXT 3022

// Change label.
#define IDC_LABEL_EDIT 3044
#define IDC_LABEL_PROMPT 3745

// Key information: names, group box, values.
#define IDC_UINFO_NAME1 3747
#define IDC_UINFO_NAME2 3748
#define IDC_UINFO_NAME3 3749
#define IDC_UINFO_NAME4 3750
#define IDC_UINFO_GROUP 3751
#define IDC_UINFO_VALUE1 3752
#define IDC_UINFO_VALUE2 3753
#define IDC_UINFO_VALUE3 3754
#define IDC_UINFO_VALUE4 3755

// Message box.
#define IDC_MSGBOX_TEXT 3757

// USB mode.
#define IDC_MODE_CDROM 3759
#define IDC_MODE_HID 3760

// Device confirmation, signing display and the pictures of a key being pressed.
#define IDD_DIALOG_DEVICE_CONFIRM 609
#define IDD_DIALOG_SIGN_DISPLAY 615
#define IDD_DIALOG_VKEY_AVI 619
#define IDC_CONFIRM_PROMPT 3042
#define IDC_CONFIRM_TITLE 3043
#define IDC_DISPLAY_PROMPT 3761
#define IDC_DISPLAY_RICH 3766
#define IDC_DISPLAY_LIST 3778

// The management tool: its window and its three pages.
#define IDD_VEXLOTOOLS 622
#define IDD_TOOLS_PELLOR 623
#define IDD_TOOLS_CERTIFICATE 624
#define IDD_TOOLS_ABOUT 625
#define IDC_TOOLS_DEVICE 1000
#define IDC_TOOLS_LANGUAGE 1001
#define IDC_TOOLS_TAB 1002
#define IDC_TOOLS_DEVICE_LABEL 1004
#define IDC_TOOLS_LANGUAGE_LABEL 1005
#define IDC_PELLOR_VERIFY 1037
#define IDC_PELLOR_CHANGE 1006
#define IDC_PELLOR_RENAME 1007
#define IDC_PELLOR_INFO 1008
#define IDC_PELLOR_LOGO 1009
#define IDC_PELLOR_NAME1 1015
#define IDC_PELLOR_NAME2 1016
#define IDC_PELLOR_NAME3 1017
#define IDC_PELLOR_NAME4 1018
#define IDC_PELLOR_VALUE1 3752
#define IDC_PELLOR_VALUE2 3753
#define IDC_PELLOR_VALUE3 3754
#define IDC_PELLOR_VALUE4 3755
#define IDC_CERT_LIST 1025
#define IDC_CERT_VIEW 1026
#define IDC_CERT_REGISTER 1027
#define IDC_CERT_UNREGISTER 1028
#define IDC_CERT_DELETE 1031
#define IDC_CERT_CLEAR 1033
#define IDC_ABOUT_VERSION 1034
#define IDC_ABOUT_CORP 1035
#define IDC_ABOUT_COPYRIGHT 1036
#define IDC_ABOUT_TITLE 1038
