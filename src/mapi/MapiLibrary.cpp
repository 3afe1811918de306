#include "mapi/MapiLibrary.h"

#include "base/Failure.h"

namespace qm {
namespace {

Failure NoMailProgram(const std::string& what) {
  return Failure(FailureKind::SignOn, Cause::kNoMailProgram, what);
}

template <typename Call>
Call Find(HMODULE module, const char* name) {
  FARPROC found = ::GetProcAddress(module, name);
  if (found == nullptr) throw NoMailProgram(std::string("MAPI32.DLL has no ") + name);
  return reinterpret_cast<Call>(reinterpret_cast<void*>(found));
}

}  // namespace

std::shared_ptr<const MapiLibrary> MapiLibrary::Load() {
  // Only the system's own: a MAPI32.DLL beside the program or in the
  // current folder is never taken.
  HMODULE module = ::LoadLibraryExW(L"MAPI32.DLL", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    throw NoMailProgram("MAPI32.DLL cannot be loaded (error " + std::to_string(::GetLastError()) +
                        "): no mail program is set up for other programs");
  }
  std::shared_ptr<MapiLibrary> library(new MapiLibrary(module));
  library->logon = Find<LPMAPILOGON>(module, "MAPILogon");
  library->logoff = Find<LPMAPILOGOFF>(module, "MAPILogoff");
  library->find_next = Find<LPMAPIFINDNEXT>(module, "MAPIFindNext");
  library->read_mail = Find<LPMAPIREADMAIL>(module, "MAPIReadMail");
  library->free_buffer = Find<LPMAPIFREEBUFFER>(module, "MAPIFreeBuffer");
  return library;
}

MapiLibrary::~MapiLibrary() { ::FreeLibrary(module_); }

}  // namespace qm
