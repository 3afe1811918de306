#pragma once
// A pipe from a started program's output to this process (Windows). The
// reading end is read with overlapped I/O, one read at a time, so that a wait
// for the program can wait for its output too: an anonymous pipe cannot do
// that, so this is a named pipe of a fresh name with one instance.

#include <windows.h>

#include <cstddef>
#include <string>

#include "base/Win32Handle.h"

namespace qm {

class OutputPipe {
 public:
  // Collects up to `limit` bytes in `sink`; more is read and dropped, and
  // `overflowed` set. `role` makes the pipe's name differ from its sibling's.
  // Throws Failure(SignOn, kPasswordCommand) when no pipe can be made.
  OutputPipe(const wchar_t* role, std::string& sink, std::size_t limit, bool& overflowed);
  ~OutputPipe();  // cancels the read under way; wipes the buffer
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;

  // The writing end, inheritable, for the program's STARTUPINFO; closed here
  // once the program holds its own copy.
  HANDLE child_end() const { return child_end_.get(); }
  void CloseChildEnd() { child_end_.Reset(); }

  // Signalled when the read under way has completed.
  HANDLE ready() const { return ready_.get(); }
  // False once every writer has closed its end.
  bool open() const { return open_; }

  // Starts the first read.
  void Start();
  // Takes the read that completed, if one did, and starts the next.
  void Collect();
  // After the program's end: takes whatever it wrote and stops reading (a
  // process it left behind may hold the pipe open).
  void Finish();

 private:
  void Read();
  // False while the read under way has not completed.
  bool TakeCompleted(BOOL wait);
  void Append(DWORD count);

  std::string& sink_;
  std::size_t limit_;
  bool& overflowed_;
  Win32Handle pipe_;
  Win32Handle child_end_;
  Win32Handle ready_;
  OVERLAPPED overlapped_{};
  char buffer_[8192];
  bool pending_ = false;
  bool open_ = true;
};

}  // namespace qm
