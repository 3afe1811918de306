#pragma once
// Where whole messages go as the server streams them: each literal into a
// file of its own in the spool folder (the destination's work folder),
// without a name, or its name removed at once, so that nothing is left behind whatever happens
// next. The file of a literal is taken once the response that carried it is read.

#include <string_view>

#include "base/UniqueFd.h"
#include "imap/ImapParser.h"

namespace qm {

class SpoolSink : public LiteralSink {
 public:
  // The folder held open (a descriptor) that the files go into.
  void SetFolder(int folder) { folder_ = folder; }

  // A new file for the literal that starts; one not taken is dropped.
  void Begin() override;
  void Write(std::string_view bytes) override;

  // The file of the last literal, at its start; invalid when none came.
  UniqueFd Take();

 private:
  int folder_ = -1;
  UniqueFd file_;
};

// A new private file in the folder held open as `folder`, with no name from
// the start where the file system allows it, else unlinked at once. Throws
// FileFailure(FileWrite).
UniqueFd CreateUnlinkedFile(int folder);

}  // namespace qm
