/* Answers the open-file dialog of any process from outside, as a user would: waits for it,
   types a file name into its name field and presses Open, or presses Cancel. Prints "answered"
   once the dialog has closed.

     file_dialog_driver.exe [--timeout-ms N] (--cancel | PATH)

   Exit status 0 answered, 2 no dialog before the deadline, 3 the dialog stayed open. */
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

/* The name field of the explorer-style open-file dialog (a combo box with an edit inside) and
   the older dialog's edit control. */
enum { kNameCombo = 0x047C, kNameEdit = 0x0480, kPollMs = 20 };

static DWORD deadline_ms = 60000;

static BOOL Expired(DWORD start) {
  return GetTickCount() - start > deadline_ms;
}

static HWND NameField(HWND dialog) {
  HWND field = GetDlgItem(dialog, kNameCombo);
  return field ? field : GetDlgItem(dialog, kNameEdit);
}

static BOOL CALLBACK FindFileDialog(HWND hwnd, LPARAM found) {
  wchar_t cls[16];
  if (!IsWindowVisible(hwnd) || !GetClassNameW(hwnd, cls, 16) || wcscmp(cls, L"#32770") != 0)
    return TRUE;
  if (!NameField(hwnd) || !GetDlgItem(hwnd, IDOK) || !GetDlgItem(hwnd, IDCANCEL))
    return TRUE;
  *(HWND*)found = hwnd;
  return FALSE;
}

static void Press(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

int wmain(int argc, wchar_t** argv) {
  const wchar_t* path = NULL;
  BOOL cancel = FALSE;
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--cancel") == 0) {
      cancel = TRUE;
    } else if (wcscmp(argv[i], L"--timeout-ms") == 0 && i + 1 < argc) {
      deadline_ms = (DWORD)wcstoul(argv[++i], NULL, 10);
    } else {
      path = argv[i];
    }
  }
  if (!cancel && !path) {
    fwprintf(stderr, L"usage: file_dialog_driver [--timeout-ms N] (--cancel | PATH)\n");
    return 1;
  }
  DWORD start = GetTickCount();
  HWND dialog = NULL;
  while (!dialog) {
    EnumWindows(FindFileDialog, (LPARAM)&dialog);
    if (dialog)
      break;
    if (Expired(start)) {
      fwprintf(stderr, L"no open-file dialog appeared\n");
      return 2;
    }
    Sleep(kPollMs);
  }
  if (cancel) {
    Press(dialog, IDCANCEL);
  } else {
    SendMessageW(NameField(dialog), WM_SETTEXT, 0, (LPARAM)path);
    Press(dialog, IDOK);
  }
  start = GetTickCount();
  while (IsWindow(dialog) && IsWindowVisible(dialog)) {
    if (Expired(start)) {
      fwprintf(stderr, L"the dialog stayed open\n");
      return 3;
    }
    Sleep(kPollMs);
  }
  wprintf(L"answered\n");
  fflush(stdout);
  return 0;
}
