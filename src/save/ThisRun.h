#pragma once
// What tells this run of the program from others, as the system shows it:
// the platform's part of RunNames (EndedRun.h).

#include <cstdint>
#include <string>

namespace qm {

// Text that differs between computers: the host name and the machine's id.
// Two computers given the same name still differ in their machine id.
std::string ThisMachine();

// Text that differs between boots of this computer; "" when the system does
// not tell (then the process ids alone decide what ended).
std::string ThisBoot();

// This process's id.
std::int64_t ThisProcessId();

// True when no process of id `pid` runs on this computer (in this boot). A
// process that cannot be asked, another user's, counts as running.
bool ProcessIsGone(std::int64_t pid);

}  // namespace qm
