#pragma once
// Puts the bytes of a batch of finished files on disk before any of them
// gets its final name, in the way that costs least on each platform.

#include <string>
#include <vector>

namespace qm {

// The files `names` of the folder `work`, which lies in the folder `folder`
// on the same file system. 0, or the errno value of what failed.
// Linux: one syncfs of that file system for the whole batch, far cheaper
// than a flush per file. Windows has no such call: each file is flushed
// (FlushFileBuffers) on its own.
int PutBatchOnDisk(int folder, int work, const std::vector<std::string>& names);

// True where PutBatchOnDisk flushes only the files it is given (Windows),
// false where it puts the whole file system on disk (Linux).
bool FilesFlushedOneByOne();

}  // namespace qm
