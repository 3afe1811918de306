#pragma once
// The system's MAPI32.DLL, loaded at run time as every mail-using program
// loads it (never linked: a PC without a mail program has none, or one that
// answers nothing), with the Simple MAPI calls the store makes.

#include <windows.h>
// windows.h first: mapi.h uses its types.
#include <mapi.h>

#include <memory>

namespace qm {

class MapiLibrary {
 public:
  // Loads MAPI32.DLL from the system folder only. Throws
  // Failure(SignOn, kNoMailProgram) when it or one of the calls is missing.
  static std::shared_ptr<const MapiLibrary> Load();
  ~MapiLibrary();
  MapiLibrary(const MapiLibrary&) = delete;
  MapiLibrary& operator=(const MapiLibrary&) = delete;

  LPMAPILOGON logon = nullptr;
  LPMAPILOGOFF logoff = nullptr;
  LPMAPIFINDNEXT find_next = nullptr;
  LPMAPIREADMAIL read_mail = nullptr;
  LPMAPIFREEBUFFER free_buffer = nullptr;

 private:
  explicit MapiLibrary(HMODULE module) : module_(module) {}
  HMODULE module_;
};

// A message the mail program allocated, freed through it once.
class MapiMessagePtr {
 public:
  explicit MapiMessagePtr(std::shared_ptr<const MapiLibrary> library)
      : library_(std::move(library)) {}
  ~MapiMessagePtr() {
    if (message_ != nullptr) library_->free_buffer(message_);
  }
  MapiMessagePtr(const MapiMessagePtr&) = delete;
  MapiMessagePtr& operator=(const MapiMessagePtr&) = delete;

  lpMapiMessage* out() { return &message_; }
  const MapiMessage* get() const { return message_; }
  const MapiMessage* operator->() const { return message_; }

 private:
  std::shared_ptr<const MapiLibrary> library_;
  lpMapiMessage message_ = nullptr;
};

}  // namespace qm
