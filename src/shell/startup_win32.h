#pragma once
// The Windows side of the tray program's start (the rules are in main.h):
// the install steps of a start as the installer, the autostart entry, and
// the hand-over to a tray program of this user that runs already.

#include <string>

#include "shell/main.h"

namespace kelvra {

// The first step of each program: every DLL loaded from now on (the
// delay-loaded VERSION and WINHTTP among them) comes from System32
// only, never from the folder the program was started from, which for the
// installer is wherever the browser put the download.
void RestrictDllSearchToSystem32();

// Writes the autostart value for the running executable (quoted) under the
// current user's Run key, which is opened but never created; the write goes
// through to disk at once. A Run key that cannot be opened is left alone; a
// write that fails raises.
void SetAutostart(bool enable);

// How long the installer waits for a running tray program to end: at once
// when it is idle, after its run and upload otherwise. A large machine's run
// takes about a minute and a half.
inline constexpr unsigned long kTrayEndWaitMs = 120'000;

// The install steps of a start as "akelvra.exe": ask a running tray program
// of this user to end and wait for it up to the time, put a copy of the
// running executable into the data folder as "kelvra_run.exe" in place of an
// older copy, and ask the shell to start the copy. A tray that does not end
// in time is left running and nothing is started; a copy or a start that
// fails is shown in an error box that says why and where, and what stays
// installed.
void InstallAndStartCopy(const std::wstring& ownPath, unsigned long trayEndWaitMs = kTrayEndWaitMs);

// Asks the running tray program of this user, if there is one, to end, and
// waits for it up to the time. True when none runs any more; false when it
// did not end in time, after telling it that the request is withdrawn. The
// program holds its mutex for as long as it runs; the handle is closed
// before the new copy starts, which checks the same mutex.
bool EndRunningTray(unsigned long waitMs);

// Copies the source under a temporary name beside the target, flushes it to
// the disk and moves it into the target's place in one step, trying the move
// again for a moment while the target is in use. 0, or the system's error
// code: then the temporary is gone and the target is as it was (a full disk,
// a read-only target, a target held open).
unsigned long ReplaceWithCopy(const std::wstring& source, const std::wstring& target);

// Posts the command to the main window of the running tray program of this
// user, waiting up to the time for the window to appear (a tray program
// that has only just started). False when none took it.
bool PostToRunningTray(TrayCommand command, unsigned long waitMs);

}  // namespace kelvra
