// This run as Windows shows it: the computer's DNS host name and the machine
// GUID that setup gave the installation; the boot counter the kernel keeps
// in the registry (Windows 8 and later; without it, and under Wine, the
// process ids alone decide). Whether a process runs: OpenProcess on its id,
// then whether it has exited (an ended process stays while handles to it
// remain open).

#include <windows.h>

#include <cstdio>

#include "base/WindowsText.h"
#include "save/ThisRun.h"

namespace qm {
namespace {

constexpr const wchar_t* kCryptographyKey = L"SOFTWARE\\Microsoft\\Cryptography";
constexpr const wchar_t* kPrefetchKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management\\"
    L"PrefetchParameters";

// A text value of the machine's registry, read from its 64-bit view; "" when
// it is missing.
std::string MachineText(const wchar_t* key, const wchar_t* value) {
  wchar_t text[128] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr,
                     text, &size) != ERROR_SUCCESS) {
    return {};
  }
  std::string utf8;
  return Utf8Of(text, utf8) == 0 ? utf8 : std::string();
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = sizeof name / sizeof name[0];
  if (!::GetComputerNameExW(ComputerNamePhysicalDnsHostname, name, &size)) return {};
  std::string utf8;
  return Utf8Of(std::wstring_view(name, size), utf8) == 0 ? utf8 : std::string();
}

}  // namespace

std::string ThisMachine() {
  return HostName() + "\n" + MachineText(kCryptographyKey, L"MachineGuid");
}

std::string ThisBoot() {
  DWORD boot = 0;
  DWORD size = sizeof boot;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kPrefetchKey, L"BootId",
                     RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &boot,
                     &size) != ERROR_SUCCESS) {
    return {};
  }
  char text[16] = {};
  std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(boot));
  return text;
}

std::int64_t ThisProcessId() { return ::GetCurrentProcessId(); }

bool ProcessIsGone(std::int64_t pid) {
  if (pid <= 0 || pid > MAXDWORD) return false;
  const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                       static_cast<DWORD>(pid));
  if (process == nullptr) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  const bool exited = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return exited;
}

}  // namespace qm
