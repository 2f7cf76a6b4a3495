// Windows: the converter is MultiByteToWideChar and WideCharToMultiByte.
#include "platform/codepage.h"

#include <windows.h>

namespace kelvane::codepage {

namespace {

// Windows' converter refuses these, and so do we everywhere.
bool widecodepage(unsigned codepage) {
  return codepage == 1200 || codepage == 1201 || codepage == 12000 || codepage == 12001;
}

}  // namespace

unsigned ansicodepage() { return GetACP(); }

int multibytetowide(unsigned codepage, const char* source, int sourcebytes, char16_t* output, int capacity) {
  if (sourcebytes <= 0 || capacity < 0 || widecodepage(codepage)) return 0;
  return MultiByteToWideChar(codepage, 0, source, sourcebytes, reinterpret_cast<wchar_t*>(output), capacity);
}

int widetomultibyte(unsigned codepage, const char16_t* source, int sourceunits, char* output, int capacity,
                    bool* lost) {
  if (sourceunits <= 0 || capacity < 0 || widecodepage(codepage)) return 0;
  BOOL usedefault = FALSE;
  int n = WideCharToMultiByte(codepage, 0, reinterpret_cast<const wchar_t*>(source), sourceunits, output, capacity,
                              nullptr, lost ? &usedefault : nullptr);
  if (lost) *lost = usedefault != FALSE;
  return n;
}

}  // namespace kelvane::codepage
