/* asuser PROGRAM [ARGS...]: starts PROGRAM as a standard user would, with the
   limited token linked to this process's elevated one (wine starts every
   process elevated), waits for it and ends with its exit code. The program's
   command line is PROGRAM and ARGS, each quoted as the C runtime reads them;
   it inherits this process's environment, current folder and standard
   handles. Ends with 3, and says why, when it cannot start the program. */
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

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fputs("usage: asuser PROGRAM [ARGS...]\n", stderr);
    return 2;
  }
  static wchar_t line[32768];
  for (int i = 1; i < argc; ++i) append(line, argv[i]);
  HANDLE token = NULL, primary = NULL;
  TOKEN_LINKED_TOKEN link = {0};
  DWORD n = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token) ||
      !GetTokenInformation(token, TokenLinkedToken, &link, sizeof link, &n) ||
      !DuplicateTokenEx(link.LinkedToken, TOKEN_ALL_ACCESS, NULL, SecurityImpersonation, TokenPrimary, &primary)) {
    fprintf(stderr, "asuser: no limited token: error %lu\n", GetLastError());
    return 3;
  }
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessAsUserW(primary, argv[1], line, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    fprintf(stderr, "asuser: cannot start %ls: error %lu\n", argv[1], GetLastError());
    return 3;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(primary);
  CloseHandle(link.LinkedToken);
  CloseHandle(token);
  return (int)code;
}
