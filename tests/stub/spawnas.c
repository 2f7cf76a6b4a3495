/* spawnas PROGRAM COMMANDLINE: starts PROGRAM with exactly COMMANDLINE as its
   command line, so the child's argv[0] can be any text, and returns the
   child's exit code. */
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fputs("usage: spawnas PROGRAM COMMANDLINE\n", stderr);
    return 2;
  }
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(argv[1], argv[2], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    fprintf(stderr, "cannot start: error %lu\n", GetLastError());
    return 3;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return (int)code;
}
