// A stand-in password command for the Windows tests, started through
// cmd.exe by the code under test:
//   bytes HEX            prints the bytes HEX spells, as they are
//   flood COUNT [LINE]   prints LINE and a line ending, then COUNT times "x"
//   wait                 waits a minute
//   tree PIDFILE         starts "leaf PIDFILE" and waits a minute
//   leaf PIDFILE         writes its process id to PIDFILE and waits a minute
#include <windows.h>
// after windows.h, whose types it uses
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Straight to the handle: the C runtime's text mode would add a CR to each LF.
void Print(const std::string& bytes) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::string FromHex(const std::wstring& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Written beside and renamed, so that a reader never sees half a number.
void WritePid(const std::filesystem::path& file) {
  const std::filesystem::path partial = file.wstring() + L".partial";
  std::ofstream(partial) << ::GetCurrentProcessId();
  std::filesystem::rename(partial, file);
}

bool StartLeaf(const std::filesystem::path& pid_file) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" leaf \"" + pid_file.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
    return false;
  }
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return true;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  const std::vector<std::wstring> args(argv, argv + count);
  ::LocalFree(argv);
  if (count >= 3 && args[1] == L"bytes") {
    Print(FromHex(args[2]));
  } else if (count >= 3 && args[1] == L"flood") {
    if (count >= 4) Print(std::string(args[3].begin(), args[3].end()) + "\r\n");
    Print(std::string(std::stoul(args[2]), 'x'));
  } else if (count >= 2 && args[1] == L"wait") {
    ::Sleep(60000);
  } else if (count >= 3 && args[1] == L"tree") {
    if (!StartLeaf(args[2])) return 2;
    ::Sleep(60000);
  } else if (count >= 3 && args[1] == L"leaf") {
    WritePid(args[2]);
    ::Sleep(60000);
  } else {
    return 64;
  }
  return 0;
}
