#include "platform/userlock.h"

#include <windows.h>

#include "platform/text.h"

namespace kelvane::userlock {

struct lock {
  HANDLE mutex;
  HANDLE record;          // the holder's process id, shared by name; or null
  volatile LONG* holder;  // a view of the record, or null
};

namespace {

state ownedafter(lock* l, DWORD waited) {
  // WAIT_ABANDONED: the holder ended without giving the mutex up, now ours.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return waited == WAIT_TIMEOUT ? state::held : state::failed;
  if (l->holder) InterlockedExchange(l->holder, static_cast<LONG>(GetCurrentProcessId()));
  return state::taken;
}

}  // namespace

lock* open(const std::string& name) {
  std::u16string wide = u"Local\\" + towide(name);
  // Not inheritable: the setup program must not keep the workspace held.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(wide.c_str()));
  if (!mutex) return nullptr;
  wide += u"-holder";
  HANDLE record = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG),
                                     reinterpret_cast<const wchar_t*>(wide.c_str()));
  void* view = record ? MapViewOfFile(record, FILE_MAP_WRITE, 0, 0, sizeof(LONG)) : nullptr;
  return new lock{mutex, record, static_cast<volatile LONG*>(view)};
}

void close(lock* l) {
  ReleaseMutex(l->mutex);  // refused when this thread does not own it
  CloseHandle(l->mutex);
  if (l->holder) UnmapViewOfFile(const_cast<LONG*>(l->holder));
  if (l->record) CloseHandle(l->record);
  delete l;
}

state trytake(lock* l) { return ownedafter(l, WaitForSingleObject(l->mutex, 0)); }

state take(lock* l) { return ownedafter(l, WaitForSingleObject(l->mutex, INFINITE)); }

unsigned long holder(lock* l) { return l->holder ? static_cast<unsigned long>(*l->holder) : 0; }

}  // namespace kelvane::userlock
