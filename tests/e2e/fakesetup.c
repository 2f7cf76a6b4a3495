/* A stand-in for the setup program that a package carries. It writes what it
   saw to the file named by KELVANE_REPORT (a JSON object, UTF-8): its command
   line and arguments, its current folder, its own path, the variables
   KZQAUTOI, KZQPATHI and KELVANE_MARKER, and the bytes of the "config.xml"
   beside it (hex), and the time it started. When KELVANE_WINDOW gives a title
   it first shows a window of that title. When KELVANE_HOLD names a file it
   then stays running, its window answering, until that file exists, so a test
   can hold an installation open, and then writes the time of its end into the
   report's name followed by ".end". KELVANE_DELAY_MS makes it wait that many
   milliseconds before it writes the report, so that a caller that does not
   wait for it is caught. With KELVANE_BROADCAST set it first does what
   installers that change PATH do, SendMessageW(HWND_BROADCAST,
   WM_SETTINGCHANGE, 0, "Environment"), which waits for every top-level
   window, and reports how long that took ("broadcast_ms"). The report also
   lists the names in its own folder ("beside") and whether its token is
   elevated. It exits with the code in KELVANE_EXIT (0 if unset).
   Times are the system's clock in 100 ns units. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void putjson(FILE* out, const wchar_t* text) {
  fputc('"', out);
  for (; text && *text; ++text) {
    unsigned c = *text;
    if (c == '"' || c == '\\') fprintf(out, "\\%c", (char)c);
    else if (c < 0x20 || c > 0x7e) fprintf(out, "\\u%04x", c);
    else fputc((int)c, out);
  }
  fputc('"', out);
}

static void putvariable(FILE* out, const wchar_t* name) {
  static wchar_t value[32768];
  DWORD n = GetEnvironmentVariableW(name, value, 32768);
  fputs(",\n ", out);
  putjson(out, name);
  fputs(": ", out);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) fputs("null", out);
  else putjson(out, n ? value : L"");
}

static void putconfig(FILE* out, const wchar_t* self) {
  wchar_t path[MAX_PATH * 4];
  wcsncpy(path, self, MAX_PATH * 3);
  path[MAX_PATH * 3] = 0;
  wchar_t* slash = wcsrchr(path, L'\\');
  wcscpy(slash ? slash + 1 : path, L"config.xml");
  FILE* in = _wfopen(path, L"rb");
  fputs(",\n \"config_hex\": ", out);
  if (!in) {
    fputs("null", out);
    return;
  }
  fputc('"', out);
  for (int c; (c = fgetc(in)) != EOF;) fprintf(out, "%02x", c);
  fputc('"', out);
  fclose(in);
}

static void putbeside(FILE* out, const wchar_t* self) {
  static wchar_t pattern[MAX_PATH * 4];
  wcsncpy(pattern, self, MAX_PATH * 3);
  pattern[MAX_PATH * 3] = 0;
  wchar_t* slash = wcsrchr(pattern, L'\\');
  wcscpy(slash ? slash + 1 : pattern, L"*");
  fputs(",\n \"beside\": [", out);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern, &found);
  int first = 1;
  for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
    if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L"..")) continue;
    if (!first) fputs(", ", out);
    putjson(out, found.cFileName);
    first = 0;
  }
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  fputc(']', out);
}

static int elevated(void) {
  HANDLE token;
  TOKEN_ELEVATION elevation = {0};
  DWORD n = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return -1;
  BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &n);
  CloseHandle(token);
  return ok ? (int)elevation.TokenIsElevated : -1;
}

static unsigned long long now(void) {
  FILETIME t;
  GetSystemTimeAsFileTime(&t);
  return ((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime;
}

/* Waits until the file exists, for five minutes at most, handling the
   window's messages meanwhile. */
static void holduntil(const wchar_t* release) {
  for (int i = 0; i < 15000 && GetFileAttributesW(release) == INVALID_FILE_ATTRIBUTES; ++i) {
    MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

static void putend(const wchar_t* report) {
  static wchar_t path[32768];
  _snwprintf(path, 32767, L"%ls.end", report);
  FILE* out = _wfopen(path, L"wb");
  if (!out) return;
  fprintf(out, "%llu\n", now());
  fclose(out);
}

int wmain(int argc, wchar_t** argv) {
  static wchar_t report[32768], self[MAX_PATH * 4], folder[MAX_PATH * 4], code[32], release[32768], title[256];
  unsigned long long started = now();
  if (GetEnvironmentVariableW(L"KELVANE_WINDOW", title, 256))
    CreateWindowExW(0, L"static", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300, 200, NULL, NULL,
                    GetModuleHandleW(NULL), NULL);
  GetModuleFileNameW(NULL, self, MAX_PATH * 4);
  GetCurrentDirectoryW(MAX_PATH * 4, folder);
  long long broadcast = -1;
  if (GetEnvironmentVariableW(L"KELVANE_BROADCAST", code, 32)) {
    ULONGLONG before = GetTickCount64();
    SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, (LPARAM)L"Environment");
    broadcast = (long long)(GetTickCount64() - before);
  }
  if (GetEnvironmentVariableW(L"KELVANE_DELAY_MS", code, 32)) Sleep((DWORD)_wtoi(code));
  if (GetEnvironmentVariableW(L"KELVANE_REPORT", report, 32768)) {
    FILE* out = _wfopen(report, L"wb");
    if (out) {
      fputs("{\"commandline\": ", out);
      putjson(out, GetCommandLineW());
      fputs(",\n \"args\": [", out);
      for (int i = 1; i < argc; ++i) {
        if (i > 1) fputs(", ", out);
        putjson(out, argv[i]);
      }
      fputs("],\n \"cwd\": ", out);
      putjson(out, folder);
      fputs(",\n \"self\": ", out);
      putjson(out, self);
      putvariable(out, L"KZQAUTOI");
      putvariable(out, L"KZQPATHI");
      putvariable(out, L"KELVANE_MARKER");
      putconfig(out, self);
      putbeside(out, self);
      fprintf(out, ",\n \"elevated\": %d,\n \"broadcast_ms\": %lld", elevated(), broadcast);
      fprintf(out, ",\n \"started\": %llu}\n", started);
      fclose(out);
    }
  }
  if (GetEnvironmentVariableW(L"KELVANE_HOLD", release, 32768)) {
    holduntil(release);
    if (report[0]) putend(report);
  }
  if (GetEnvironmentVariableW(L"KELVANE_EXIT", code, 32)) return _wtoi(code);
  return 0;
}
