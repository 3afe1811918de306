#pragma once
// The user's scheduled run: a task of the platform's task scheduler that
// starts the program with "-a" every few minutes while the user is logged
// on (Windows' Task Scheduler). Made and removed from the window's context
// menu; where there is no such scheduler (Linux: systemd timers, see the
// README) nothing is offered.

#include <chrono>
#include <filesystem>
#include <string>

namespace qm {

// True where the window may offer the scheduled run.
bool ScheduledRunOffered();

// Registers the task that starts `program` with "-a" every `every`, as this
// user, only while they are logged on; an earlier task of this user is
// replaced. Throws Failure when the scheduler refuses it.
void RegisterScheduledRun(const std::filesystem::path& program, std::chrono::minutes every);

// Removes this user's task; true when there was one. Throws Failure when
// the scheduler refuses.
bool RemoveScheduledRun();

// The task's definition in the scheduler's XML: `program` (UTF-8) with
// "-a", every `every`, from `start` (local time, "2026-12-09T08:00:00") on,
// as the logged-on user, never two at once, ended after an hour.
std::string ScheduledTaskXml(const std::string& program, std::chrono::minutes every,
                             const std::string& start);

}  // namespace qm
