#pragma once
// Keeps the process's memory, which holds passwords and tokens while it signs
// on, out of core files.

namespace qm {

// Marks the process as not dumpable: a crash writes no core file (nor hands
// one to a core-dump service), and other processes of the same user cannot
// read its memory through /proc. Call it first thing in main, before any
// secret is read. Does nothing where the system has no such setting.
void KeepOutOfCoreFiles();

}  // namespace qm
