#include "platform/userlock.h"

#include <windows.h>
#include <sddl.h>

#include "platform/text.h"

namespace kelvane::userlock {

struct lock {
  std::u16string name;    // the mutex's full name, for polling a denied one
  HANDLE mutex;           // null while the mutex is another's we may not open
  HANDLE record;          // the holder's id and creation time, shared by name; or null
  volatile LONG64* view;  // [0] process id, [1] creation time; or null
  bool writable;          // false for a record we may only read (an elevated holder's)
};

namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// Whoever creates the objects keeps full access through its own handle. Every
// other process of the session may wait on the mutex and read and write the
// record, whatever the creator's privilege level: an elevated holder must
// still be seen, and waited for, by an unelevated loader.
struct sharedsecurity {
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  explicit sharedsecurity(const wchar_t* sddl) {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
                                                         nullptr);
  }
  ~sharedsecurity() { LocalFree(attributes.lpSecurityDescriptor); }
  SECURITY_ATTRIBUTES* get() { return attributes.lpSecurityDescriptor ? &attributes : nullptr; }
};

// SYNCHRONIZE | MUTANT_QUERY_STATE for authenticated users.
constexpr wchar_t mutexsddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)";
// SECTION_QUERY | SECTION_MAP_WRITE | SECTION_MAP_READ for authenticated users.
constexpr wchar_t recordsddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00000007;;;AU)";

// Opens the mutex for waiting, or creates it. Null with ERROR_ACCESS_DENIED
// when it exists and this process may not wait on it.
HANDLE openmutex(const std::u16string& name) {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, w(name));
  if (mutex || GetLastError() != ERROR_FILE_NOT_FOUND) return mutex;
  sharedsecurity security(mutexsddl);
  // Made here, so ours to release (the tests give it up); should another
  // process make it meanwhile, this opens theirs and may be refused.
  return CreateMutexExW(security.get(), w(name), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
}

void openrecord(lock* l) {
  std::u16string name = l->name + u"-holder";
  DWORD access = FILE_MAP_READ | FILE_MAP_WRITE;
  HANDLE record = OpenFileMappingW(access, FALSE, w(name));
  if (!record && GetLastError() == ERROR_FILE_NOT_FOUND) {
    sharedsecurity security(recordsddl);
    record = CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0, 2 * sizeof(LONG64),
                                w(name));
  }
  if (!record) {  // a higher integrity level's: still readable, to find the holder
    access = FILE_MAP_READ;
    record = OpenFileMappingW(access, FALSE, w(name));
  }
  if (!record) return;
  void* view = MapViewOfFile(record, access, 0, 0, 2 * sizeof(LONG64));
  if (!view) {
    CloseHandle(record);
    return;
  }
  l->record = record;
  l->view = static_cast<volatile LONG64*>(view);
  l->writable = access & FILE_MAP_WRITE;
}

state ownedafter(lock* l, DWORD waited) {
  // WAIT_ABANDONED: the holder ended without giving the mutex up, now ours.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return waited == WAIT_TIMEOUT ? state::held : state::failed;
  if (l->view && l->writable) {
    process me = currentprocess();
    InterlockedExchange64(&l->view[0], 0);  // never an id beside another's time
    InterlockedExchange64(&l->view[1], static_cast<LONG64>(me.created));
    InterlockedExchange64(&l->view[0], static_cast<LONG64>(me.id));
  }
  return state::taken;
}

// A mutex we were refused: try again to open it. False while still refused.
bool reopen(lock* l) {
  if (l->mutex) return true;
  l->mutex = openmutex(l->name);
  return l->mutex != nullptr;
}

}  // namespace

lock* open(const std::string& name) {
  std::u16string wide = u"Local\\" + towide(name);
  // Not inheritable: the setup program must not keep the workspace held.
  HANDLE mutex = openmutex(wide);
  if (!mutex && GetLastError() != ERROR_ACCESS_DENIED) return nullptr;
  lock* l = new lock{wide, mutex, nullptr, nullptr, false};
  openrecord(l);
  return l;
}

void close(lock* l) {
  if (l->mutex) {
    ReleaseMutex(l->mutex);  // refused when this thread does not own it
    CloseHandle(l->mutex);
  }
  if (l->view) UnmapViewOfFile(const_cast<LONG64*>(l->view));
  if (l->record) CloseHandle(l->record);
  delete l;
}

state trytake(lock* l) {
  if (!reopen(l)) return GetLastError() == ERROR_ACCESS_DENIED ? state::held : state::failed;
  return ownedafter(l, WaitForSingleObject(l->mutex, 0));
}

state take(lock* l) {
  // A mutex we may not wait on is polled: it is gone (and made anew, ours)
  // or open to us once its holder has ended.
  while (!reopen(l)) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return state::failed;
    Sleep(250);
  }
  return ownedafter(l, WaitForSingleObject(l->mutex, INFINITE));
}

process holder(lock* l) {
  if (!l->view) return {};
  process p;
  p.id = static_cast<unsigned long>(l->view[0]);  // aligned 64-bit reads: whole values
  p.created = static_cast<unsigned long long>(l->view[1]);
  return p;
}

namespace {
unsigned long long creationtime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}
}  // namespace

process currentprocess() { return {GetCurrentProcessId(), creationtime(GetCurrentProcess())}; }

bool stillrunning(const process& p) {
  if (!p.id || !p.created) return false;
  HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, p.id);
  if (!handle) return false;  // gone, or not ours to inspect: never assumed
  bool same = creationtime(handle) == p.created;
  DWORD code = 0;
  bool running = GetExitCodeProcess(handle, &code) && code == STILL_ACTIVE;
  CloseHandle(handle);
  return same && running;
}

}  // namespace kelvane::userlock
