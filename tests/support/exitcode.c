/* exitcode [--limited] PROGRAM [ARGS...]: runs PROGRAM, waits for it and
   prints its whole 32-bit exit code as "exit code N" on standard output (a
   Linux parent sees only its low 8 bits). With --limited the program gets the
   limited token linked to this process's elevated one, as a standard user's
   program would (wine starts every process elevated). The program's command
   line is PROGRAM and ARGS, each quoted as the C runtime reads them; it
   inherits this process's environment, current folder and standard handles.
   Ends with 0, or 3, saying why, when it cannot start the program. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

/* Appends one argument, quoted when it needs it: backslashes before a quote
   (or the closing one) doubled, quotes escaped. */
static void append(wchar_t* line, const wchar_t* arg) {
  if (*line) wcscat(line, L" ");
  if (*arg && !wcspbrk(arg, L" \t\n\v\"")) {
    wcscat(line, arg);
    return;
  }
  wchar_t* out = line + wcslen(line);
  *out++ = L'"';
  size_t backslashes = 0;
  for (; *arg; ++arg) {
    if (*arg == L'\\') {
      ++backslashes;
      continue;
    }
    for (size_t i = 0; i < (*arg == L'"' ? backslashes * 2 + 1 : backslashes); ++i) *out++ = L'\\';
    backslashes = 0;
    *out++ = *arg;
  }
  for (size_t i = 0; i < backslashes * 2; ++i) *out++ = L'\\';
  *out++ = L'"';
  *out = 0;
}

/* A primary token of the limited token linked to this process's own. */
static HANDLE limitedtoken(void) {
  HANDLE token = NULL, primary = NULL;
  TOKEN_LINKED_TOKEN link = {0};
  DWORD n = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token) &&
      GetTokenInformation(token, TokenLinkedToken, &link, sizeof link, &n))
    DuplicateTokenEx(link.LinkedToken, TOKEN_ALL_ACCESS, NULL, SecurityImpersonation, TokenPrimary, &primary);
  if (link.LinkedToken) CloseHandle(link.LinkedToken);
  if (token) CloseHandle(token);
  return primary;
}

int wmain(int argc, wchar_t** argv) {
  int first = argc > 1 && wcscmp(argv[1], L"--limited") == 0 ? 2 : 1;
  if (argc <= first) {
    fputs("usage: exitcode [--limited] PROGRAM [ARGS...]\n", stderr);
    return 2;
  }
  static wchar_t line[32768];
  for (int i = first; i < argc; ++i) append(line, argv[i]);
  HANDLE primary = NULL;
  if (first == 2 && !(primary = limitedtoken())) {
    fprintf(stderr, "exitcode: no limited token: error %lu\n", GetLastError());
    return 3;
  }
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  BOOL started = primary ? CreateProcessAsUserW(primary, argv[first], line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)
                         : CreateProcessW(argv[first], line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
  if (!started) {
    fprintf(stderr, "exitcode: cannot start %ls: error %lu\n", argv[first], GetLastError());
    return 3;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (primary) CloseHandle(primary);
  printf("exit code %lu\n", code);
  fflush(stdout);
  return 0;
}
