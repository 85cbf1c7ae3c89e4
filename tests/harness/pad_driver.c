/* Enters a PIN into the PIN pad's verify dialog from outside, as a user with a mouse would,
   through the dialog's on-screen keyboard. It waits for the dialog of any process, opens the
   keyboard, finds each character's key by its label (the digits move at every showing), presses
   it and checks that the PIN field grew by one character. Then it presses the keyboard's Enter
   or Cancel key, or, with --pause, prints "typed" and waits for "enter" or "cancel" on its
   input, so that the caller can take a screenshot first. It ends when the dialog is gone.

     pad_driver.exe [--timeout-ms N] [--cancel | --pause] PIN
     pad_driver.exe [--timeout-ms N] --info

   With --info it waits for the PIN pad's information box instead (the one that tells how many
   tries are left after a wrong PIN), prints "info TEXT" (UTF-8) and presses its OK button.

   Lines printed: "found", "typed X Y WIDTH HEIGHT" (the dialog's place on the screen), "pressed
   enter" or "pressed cancel", "closed".
   Exit status: 0 done; 2 usage; 3 no dialog in time; 4 no keyboard; 5 no key for a character;
   6 a key press not taken by the field; 7 the dialog stayed open.

   The keys are pressed with WM_COMMAND to the keyboard window: the dialog swallows injected
   mouse clicks, and commands do not pass through its mouse hook. */
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

enum {
  kInfoText = 3002,
  kPinField = 3005,
  kKeyboardButton = 3006,
  kFirstKey = 4000,
  kLastKey = 4256,
  kCapsKey = 4044,
  kEnterKey = 4058,
  kCancelKey = 4072,
  kPollMs = 20,
};

enum {
  kExitDone = 0,
  kExitUsage = 2,
  kExitNoDialog = 3,
  kExitNoKeyboard = 4,
  kExitNoKey = 5,
  kExitNotTaken = 6,
  kExitStayedOpen = 7,
};

static DWORD deadline_ms = 30000;

static void Say(const char* line) {
  printf("%s\n", line);
  fflush(stdout);
}

static int Expired(DWORD start) {
  return GetTickCount() - start >= deadline_ms;
}

static int IsVisibleDialog(HWND hwnd) {
  wchar_t cls[16];
  return IsWindowVisible(hwnd) && GetClassNameW(hwnd, cls, 16) && wcscmp(cls, L"#32770") == 0;
}

static BOOL CALLBACK FindPinDialog(HWND hwnd, LPARAM found) {
  if (!IsVisibleDialog(hwnd))
    return TRUE;
  HWND field = GetDlgItem(hwnd, kPinField);
  HWND button = GetDlgItem(hwnd, kKeyboardButton);
  /* The keyboard button is shown when the dialog has initialised. */
  if (!field || !button || !IsWindowVisible(button))
    return TRUE;
  *(HWND*)found = hwnd;
  return FALSE;
}

static BOOL CALLBACK FindInfoBox(HWND hwnd, LPARAM found) {
  if (!IsVisibleDialog(hwnd) || !GetDlgItem(hwnd, kInfoText) || !GetDlgItem(hwnd, IDOK))
    return TRUE;
  *(HWND*)found = hwnd;
  return FALSE;
}

static HWND WaitForDialog(WNDENUMPROC find) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND dialog = NULL;
    EnumWindows(find, (LPARAM)&dialog);
    if (dialog)
      return dialog;
    if (Expired(start))
      return NULL;
    Sleep(kPollMs);
  }
}

struct KeySearch {
  int id;
  HWND key;
};

static BOOL CALLBACK FindKeyById(HWND hwnd, LPARAM search) {
  struct KeySearch* s = (struct KeySearch*)search;
  if (GetDlgCtrlID(hwnd) == s->id && IsWindowVisible(hwnd)) {
    s->key = hwnd;
    return FALSE;
  }
  return TRUE;
}

/* A key of the keyboard by its control id; the keys are children of the keyboard, which is a
   child of the dialog. */
static HWND KeyById(HWND dialog, int id) {
  struct KeySearch s = {id, NULL};
  EnumChildWindows(dialog, FindKeyById, (LPARAM)&s);
  return s.key;
}

static HWND WaitForKeyboard(HWND dialog) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND key = KeyById(dialog, kFirstKey);
    if (key)
      return GetParent(key);
    if (Expired(start))
      return NULL;
    Sleep(kPollMs);
  }
}

/* Texts of another process's windows are asked for with messages: GetWindowText and
   GetWindowTextLength may answer from the window's stored title, which an edit control's
   content is not. */
static int TextLength(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, deadline_ms, &length))
    return -1;
  return (int)length;
}

static int Text(HWND hwnd, wchar_t* text, int capacity) {
  DWORD_PTR length = 0;
  text[0] = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, capacity, (LPARAM)text, SMTO_ABORTIFHUNG, deadline_ms,
                           &length))
    return 0;
  return (int)length;
}

/* The key whose label types `c`; an ampersand is labelled "&&". */
static int KeyForCharacter(HWND keyboard, wchar_t c) {
  wchar_t want[3] = {c, c == L'&' ? L'&' : 0, 0};
  for (int id = kFirstKey; id <= kLastKey; ++id) {
    HWND key = GetDlgItem(keyboard, id);
    wchar_t label[8];
    if (key && Text(key, label, 8) > 0 && wcscmp(label, want) == 0)
      return id;
  }
  return 0;
}

static LRESULT Press(HWND keyboard, int id) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(keyboard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                             (LPARAM)GetDlgItem(keyboard, id), SMTO_ABORTIFHUNG, deadline_ms,
                             &result);
}

static int WaitForLength(HWND field, int length) {
  DWORD start = GetTickCount();
  while (TextLength(field) != length) {
    if (Expired(start))
      return 0;
    Sleep(kPollMs);
  }
  return 1;
}

static int TypePin(HWND dialog, HWND keyboard, const wchar_t* pin) {
  HWND field = GetDlgItem(dialog, kPinField);
  int typed = TextLength(field);
  for (const wchar_t* c = pin; *c; ++c) {
    int id = KeyForCharacter(keyboard, *c);
    if (!id && iswalpha(*c)) {
      /* The letters show the other case: switch it. */
      Press(keyboard, kCapsKey);
      id = KeyForCharacter(keyboard, *c);
    }
    if (!id) {
      fprintf(stderr, "pad_driver: no key for character %u\n", (unsigned)*c);
      return kExitNoKey;
    }
    if (!Press(keyboard, id) || !WaitForLength(field, ++typed)) {
      fprintf(stderr, "pad_driver: the field did not take key %d\n", id);
      return kExitNotTaken;
    }
  }
  return kExitDone;
}

static int WaitClosed(HWND dialog) {
  DWORD start = GetTickCount();
  while (IsWindow(dialog)) {
    if (Expired(start))
      return 0;
    Sleep(kPollMs);
  }
  return 1;
}

static int Closed(HWND dialog) {
  if (!WaitClosed(dialog)) {
    fprintf(stderr, "pad_driver: the dialog stayed open\n");
    return kExitStayedOpen;
  }
  Say("closed");
  return kExitDone;
}

static int AcknowledgeInfo(void) {
  HWND box = WaitForDialog(FindInfoBox);
  if (!box) {
    fprintf(stderr, "pad_driver: no information box appeared\n");
    return kExitNoDialog;
  }
  wchar_t text[512] = L"";
  Text(GetDlgItem(box, kInfoText), text, 512);
  char utf8[1536] = "";
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
  printf("info %s\n", utf8);
  fflush(stdout);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
  return Closed(box);
}

int wmain(int argc, wchar_t** argv) {
  int cancel = 0;
  int pause = 0;
  int info = 0;
  const wchar_t* pin = NULL;
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--cancel") == 0) {
      cancel = 1;
    } else if (wcscmp(argv[i], L"--pause") == 0) {
      pause = 1;
    } else if (wcscmp(argv[i], L"--info") == 0) {
      info = 1;
    } else if (wcscmp(argv[i], L"--timeout-ms") == 0 && i + 1 < argc) {
      deadline_ms = (DWORD)wcstoul(argv[++i], NULL, 10);
    } else if (!pin) {
      pin = argv[i];
    } else {
      pin = NULL;
      break;
    }
  }
  if (info && !pin && !cancel && !pause)
    return AcknowledgeInfo();
  if (info || !pin || (cancel && pause)) {
    fprintf(stderr,
            "usage: pad_driver [--timeout-ms N] [--cancel | --pause] PIN\n"
            "       pad_driver [--timeout-ms N] --info\n");
    return kExitUsage;
  }

  HWND dialog = WaitForDialog(FindPinDialog);
  if (!dialog) {
    fprintf(stderr, "pad_driver: no PIN dialog appeared\n");
    return kExitNoDialog;
  }
  Say("found");
  Press(dialog, kKeyboardButton);
  HWND keyboard = WaitForKeyboard(dialog);
  if (!keyboard) {
    fprintf(stderr, "pad_driver: the keyboard did not open\n");
    return kExitNoKeyboard;
  }
  int status = TypePin(dialog, keyboard, pin);
  if (status != kExitDone)
    return status;
  RECT r;
  GetWindowRect(dialog, &r);
  printf("typed %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  fflush(stdout);

  if (pause) {
    char line[32] = "";
    if (!fgets(line, sizeof line, stdin))
      line[0] = 0;
    cancel = strncmp(line, "cancel", 6) == 0;
  }
  /* Posted: the dialog may show a message box before it returns from the command. */
  PostMessageW(keyboard, WM_COMMAND, MAKEWPARAM(cancel ? kCancelKey : kEnterKey, BN_CLICKED),
               (LPARAM)GetDlgItem(keyboard, cancel ? kCancelKey : kEnterKey));
  Say(cancel ? "pressed cancel" : "pressed enter");
  return Closed(dialog);
}
