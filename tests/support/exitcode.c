/* exitcode [--limited] PROGRAM [ARGS...]: runs PROGRAM, waits for it and
   prints its whole 32-bit exit code as "exit code N" on standard output (a
   Linux parent sees only its low 8 bits). With --limited the program gets the
   limited token linked to this process's elevated one, as a standard user's
   program would (wine starts every process elevated). Each argument is passed
   in double quotes; none may hold a quote. Ends with 0, or 3 when it cannot
   start the program. */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
  int first = argc > 1 && wcscmp(argv[1], L"--limited") == 0 ? 2 : 1;
  if (argc <= first) {
    fputs("usage: exitcode [--limited] PROGRAM [ARGS...]\n", stderr);
    return 2;
  }
  static wchar_t line[32768];
  for (int i = first; i < argc; ++i) {
    if (i > first) wcscat(line, L" ");
    wcscat(line, L"\"");
    wcscat(line, argv[i]);
    wcscat(line, L"\"");
  }
  HANDLE primary = NULL;
  if (first == 2) {
    HANDLE token = NULL;
    TOKEN_LINKED_TOKEN link = {0};
    DWORD n = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token) ||
        !GetTokenInformation(token, TokenLinkedToken, &link, sizeof link, &n) ||
        !DuplicateTokenEx(link.LinkedToken, TOKEN_ALL_ACCESS, NULL, SecurityImpersonation, TokenPrimary, &primary)) {
      fprintf(stderr, "exitcode: no limited token: error %lu\n", GetLastError());
      return 3;
    }
  }
  STARTUPINFOW si = {sizeof si};
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
  printf("exit code %lu\n", code);
  fflush(stdout);
  return 0;
}
