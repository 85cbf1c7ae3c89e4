/* Fills a PIN dialog of the PIN pad from outside, as a user with a mouse would, through the
   dialog's on-screen keyboard: the verify dialog (the PIN), the change dialog (old PIN, new PIN,
   new PIN again) or the initialisation dialog (new PIN, new PIN again). It waits for the dialog
   of any process, opens the keyboard, and for each field in order clicks into it, waits until
   it has the focus (the keyboard then types into it), finds each character's key by its label
   (the digits move at every showing), presses it and checks that the field grew by one
   character. Then it presses the keyboard's Enter or Cancel key, or, with --pause, prints
   "typed" and waits for "enter" or "cancel" on its input, so that the caller can take a
   screenshot first. It ends when the dialog is gone.

     pad_driver.exe [--timeout-ms N] [--dialog verify|change|init] [--cancel | --pause]
                    [--weak ok|cancel] PIN...
     pad_driver.exe [--timeout-ms N] --info

   One PIN per field of the dialog (verify is the default). When the change dialog asks whether
   to keep a weak new PIN, --weak answers it: ok keeps it, cancel refuses it and then gives up
   the dialog with the keyboard's Cancel key; without --weak the question stays unanswered.

   With --info it waits for the PIN pad's information box instead (the one that tells how many
   tries are left after a wrong PIN), prints "info TEXT" and "title TEXT" (UTF-8) and presses
   its OK button.

   Lines printed: "found", "typed X Y WIDTH HEIGHT" (the dialog's place on the screen), "pressed
   enter" or "pressed cancel", "weak TEXT" and "answered ok" or "answered cancel", "closed".
   Exit status: 0 done; 2 usage; 3 no dialog in time; 4 no keyboard; 5 no key for a character;
   6 a key press not taken by the field; 7 the dialog stayed open; 8 a field did not take the
   focus.

   The keys are pressed with WM_COMMAND to the keyboard window and the fields clicked with
   posted button messages: the dialog swallows injected mouse clicks, and neither passes
   through its mouse hook. */
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

enum {
  kInfoText = 3002,
  kKeyboardButton = 3006,
  kQuestionText = 3757,
  kFirstKey = 4000,
  kLastKey = 4256,
  kCapsKey = 4044,
  kEnterKey = 4058,
  kCancelKey = 4072,
  kPollMs = 20,
  kMaxFields = 3,
  kAttentionWaitMs = 3000,
};

enum {
  kExitDone = 0,
  kExitUsage = 2,
  kExitNoDialog = 3,
  kExitNoKeyboard = 4,
  kExitNoKey = 5,
  kExitNotTaken = 6,
  kExitStayedOpen = 7,
  kExitNoFocus = 8,
};

/* The PIN dialogs by their fields, in the order a user fills them. */
struct DialogKind {
  const wchar_t* name;
  int fieldCount;
  int fields[kMaxFields];
};

static const struct DialogKind kDialogs[] = {
    {L"verify", 1, {3005}},
    {L"change", 3, {3010, 3011, 3012}},
    {L"init", 2, {3045, 3046}},
};

static DWORD deadline_ms = 30000;

static void Say(const char* line) {
  printf("%s\n", line);
  fflush(stdout);
}

/* Prints "WORD TEXT" with the text in UTF-8. */
static void SayText(const char* word, const wchar_t* text) {
  char utf8[1536] = "";
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
  printf("%s %s\n", word, utf8);
  fflush(stdout);
}

static int Expired(DWORD start) {
  return GetTickCount() - start >= deadline_ms;
}

static int IsVisibleDialog(HWND hwnd) {
  wchar_t cls[16];
  return IsWindowVisible(hwnd) && GetClassNameW(hwnd, cls, 16) && wcscmp(cls, L"#32770") == 0;
}

struct DialogSearch {
  const struct DialogKind* kind; /* the PIN dialog of this kind */
  HWND owner;                    /* or a box owned by this window */
  int textId;                    /* that holds this text control */
  HWND found;
};

static BOOL CALLBACK FindPinDialog(HWND hwnd, LPARAM search) {
  struct DialogSearch* s = (struct DialogSearch*)search;
  if (!IsVisibleDialog(hwnd))
    return TRUE;
  for (int i = 0; i < s->kind->fieldCount; ++i) {
    if (!GetDlgItem(hwnd, s->kind->fields[i]))
      return TRUE;
  }
  HWND button = GetDlgItem(hwnd, kKeyboardButton);
  /* The keyboard button is shown when the dialog has initialised. */
  if (!button || !IsWindowVisible(button))
    return TRUE;
  s->found = hwnd;
  return FALSE;
}

static BOOL CALLBACK FindBox(HWND hwnd, LPARAM search) {
  struct DialogSearch* s = (struct DialogSearch*)search;
  if (!IsVisibleDialog(hwnd) || !GetDlgItem(hwnd, s->textId) || !GetDlgItem(hwnd, IDOK))
    return TRUE;
  if (s->owner && GetWindow(hwnd, GW_OWNER) != s->owner)
    return TRUE;
  s->found = hwnd;
  return FALSE;
}

static HWND Search(WNDENUMPROC find, struct DialogSearch* search) {
  search->found = NULL;
  EnumWindows(find, (LPARAM)search);
  return search->found;
}

static HWND WaitForDialog(WNDENUMPROC find, struct DialogSearch* search) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND dialog = Search(find, search);
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

/* Posted: the dialog may show a message box before it returns from the command. */
static void PressLater(HWND window, int id) {
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(window, id));
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

static HWND FocusOf(HWND dialog) {
  GUITHREADINFO info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info))
    return NULL;
  return info.hwndFocus;
}

/* Clicks into the field right of its text, where the caret goes to the end, and waits until
   the field has the focus: the keyboard follows the focus. */
static int ClickInto(HWND dialog, HWND field) {
  RECT r;
  GetClientRect(field, &r);
  LPARAM at = MAKELPARAM(r.right > 4 ? r.right - 4 : 0, r.bottom / 2);
  PostMessageW(field, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(field, WM_LBUTTONUP, 0, at);
  DWORD start = GetTickCount();
  while (FocusOf(dialog) != field) {
    if (Expired(start)) {
      fprintf(stderr, "pad_driver: field %d did not take the focus\n", GetDlgCtrlID(field));
      return kExitNoFocus;
    }
    Sleep(kPollMs);
  }
  return kExitDone;
}

/* A PIN dialog clicks into itself once, shortly after it opens, to get the user's attention; the
   click lands on the first field. It is awaited (the cursor moves to the spot first), so that it
   does not take the focus from a later field. Not every dialog gets to click (its timer may be
   late), so the wait is short and passes either way. */
static void WaitForAttentionClick(HWND dialog) {
  POINT spot = {20, 20};
  if ((GetWindowLongW(dialog, GWL_STYLE) & WS_CAPTION) == WS_CAPTION)
    spot.y += GetSystemMetrics(SM_CYCAPTION);
  ClientToScreen(dialog, &spot);
  DWORD start = GetTickCount();
  POINT cursor;
  while (GetTickCount() - start < kAttentionWaitMs &&
         !(GetCursorPos(&cursor) && cursor.x == spot.x && cursor.y == spot.y))
    Sleep(kPollMs);
}

static int TypePin(HWND dialog, HWND keyboard, HWND field, const wchar_t* pin) {
  int status = ClickInto(dialog, field);
  if (status != kExitDone)
    return status;
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
      fprintf(stderr, "pad_driver: field %d did not take key %d\n", GetDlgCtrlID(field), id);
      return kExitNotTaken;
    }
  }
  return kExitDone;
}

static int Closed(HWND dialog) {
  DWORD start = GetTickCount();
  while (IsWindow(dialog)) {
    if (Expired(start)) {
      fprintf(stderr, "pad_driver: the dialog stayed open\n");
      return kExitStayedOpen;
    }
    Sleep(kPollMs);
  }
  Say("closed");
  return kExitDone;
}

/* After Enter: the dialog closes, or asks whether to keep a weak new PIN, which `weak` ("ok",
   "cancel" or NULL) answers. */
static int Finish(HWND dialog, HWND keyboard, const wchar_t* weak) {
  struct DialogSearch question = {NULL, dialog, kQuestionText, NULL};
  DWORD start = GetTickCount();
  HWND box = NULL;
  while (IsWindow(dialog) && !(box = Search(FindBox, &question))) {
    if (Expired(start)) {
      fprintf(stderr, "pad_driver: the dialog stayed open\n");
      return kExitStayedOpen;
    }
    Sleep(kPollMs);
  }
  if (!box)
    return Closed(dialog);
  wchar_t text[512] = L"";
  Text(GetDlgItem(box, kQuestionText), text, 512);
  SayText("weak", text);
  if (!weak) {
    fprintf(stderr, "pad_driver: the dialog asks about a weak PIN and --weak is not given\n");
    return kExitStayedOpen;
  }
  int keep = wcscmp(weak, L"ok") == 0;
  PressLater(box, keep ? IDOK : IDCANCEL);
  Say(keep ? "answered ok" : "answered cancel");
  if (!keep) {
    /* The dialog stays with its new fields emptied: the user gives up. */
    start = GetTickCount();
    while (IsWindow(box)) {
      if (Expired(start)) {
        fprintf(stderr, "pad_driver: the question stayed open\n");
        return kExitStayedOpen;
      }
      Sleep(kPollMs);
    }
    PressLater(keyboard, kCancelKey);
    Say("pressed cancel");
  }
  return Closed(dialog);
}

static int AcknowledgeInfo(void) {
  struct DialogSearch search = {NULL, NULL, kInfoText, NULL};
  HWND box = WaitForDialog(FindBox, &search);
  if (!box) {
    fprintf(stderr, "pad_driver: no information box appeared\n");
    return kExitNoDialog;
  }
  wchar_t text[512] = L"";
  Text(GetDlgItem(box, kInfoText), text, 512);
  SayText("info", text);
  Text(box, text, 512);
  SayText("title", text);
  PressLater(box, IDOK);
  return Closed(box);
}

static const struct DialogKind* KindByName(const wchar_t* name) {
  for (size_t i = 0; i < sizeof kDialogs / sizeof kDialogs[0]; ++i) {
    if (wcscmp(kDialogs[i].name, name) == 0)
      return &kDialogs[i];
  }
  return NULL;
}

static int Usage(void) {
  fprintf(stderr,
          "usage: pad_driver [--timeout-ms N] [--dialog verify|change|init] [--cancel | --pause]\n"
          "                  [--weak ok|cancel] PIN...\n"
          "       pad_driver [--timeout-ms N] --info\n");
  return kExitUsage;
}

int wmain(int argc, wchar_t** argv) {
  int cancel = 0;
  int pause = 0;
  int info = 0;
  const wchar_t* weak = NULL;
  const struct DialogKind* kind = &kDialogs[0];
  const wchar_t* pins[kMaxFields];
  int pinCount = 0;
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--cancel") == 0) {
      cancel = 1;
    } else if (wcscmp(argv[i], L"--pause") == 0) {
      pause = 1;
    } else if (wcscmp(argv[i], L"--info") == 0) {
      info = 1;
    } else if (wcscmp(argv[i], L"--timeout-ms") == 0 && i + 1 < argc) {
      deadline_ms = (DWORD)wcstoul(argv[++i], NULL, 10);
    } else if (wcscmp(argv[i], L"--dialog") == 0 && i + 1 < argc) {
      if (!(kind = KindByName(argv[++i])))
        return Usage();
    } else if (wcscmp(argv[i], L"--weak") == 0 && i + 1 < argc) {
      weak = argv[++i];
      if (wcscmp(weak, L"ok") != 0 && wcscmp(weak, L"cancel") != 0)
        return Usage();
    } else if (pinCount < kMaxFields) {
      pins[pinCount++] = argv[i];
    } else {
      return Usage();
    }
  }
  if (info)
    return pinCount == 0 && !cancel && !pause && !weak ? AcknowledgeInfo() : Usage();
  if (pinCount != kind->fieldCount || (cancel && pause))
    return Usage();

  struct DialogSearch search = {kind, NULL, 0, NULL};
  HWND dialog = WaitForDialog(FindPinDialog, &search);
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
  if (kind->fieldCount > 1)
    WaitForAttentionClick(dialog);
  for (int i = 0; i < kind->fieldCount; ++i) {
    int status = TypePin(dialog, keyboard, GetDlgItem(dialog, kind->fields[i]), pins[i]);
    if (status != kExitDone)
      return status;
  }
  /* Every field holds its PIN and nothing more: no key went to another field. */
  for (int i = 0; i < kind->fieldCount; ++i) {
    if (TextLength(GetDlgItem(dialog, kind->fields[i])) != (int)wcslen(pins[i])) {
      fprintf(stderr, "pad_driver: field %d does not hold its %d characters\n", kind->fields[i],
              (int)wcslen(pins[i]));
      return kExitNotTaken;
    }
  }
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
  PressLater(keyboard, cancel ? kCancelKey : kEnterKey);
  Say(cancel ? "pressed cancel" : "pressed enter");
  return cancel ? Closed(dialog) : Finish(dialog, keyboard, weak);
}
