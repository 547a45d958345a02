#pragma once
// The Windows side of the tray program's start (the rules are in main.h):
// the install steps of a start as the installer, the autostart entry, and
// the hand-over to a tray program of this user that runs already.

#include <string>

#include "shell/main.h"

namespace kelvra {

// Writes the autostart value for the running executable (quoted) under the
// current user's Run key, which is opened but never created; the write goes
// through to disk at once. A Run key that cannot be opened is left alone; a
// write that fails raises.
void SetAutostart(bool enable);

// The full path of the running executable.
std::wstring OwnExecutablePath();

// The install steps of a start as "akelvra.exe": ask a running tray program
// of this user to end and wait for it a bounded time, copy the running
// executable into the data folder as "kelvra_run.exe", overwriting an older
// copy, and ask the shell to start the copy. A copy or a start that fails is
// shown in an error box that says why and where.
void InstallAndStartCopy(const std::wstring& ownPath);

// Posts the command to the main window of the running tray program of this
// user, waiting up to the time for the window to appear (a tray program
// that has only just started). False when none took it.
bool PostToRunningTray(TrayCommand command, unsigned long waitMs);

}  // namespace kelvra
