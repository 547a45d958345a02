#pragma once
// The settings dialog's round trip, as the tray program calls it.

namespace kelvra {

// Shows the settings dialog modally with the current settings, saves them
// when the user leaves with "Save", and reloads them whatever the result. An
// error of the save (KelvraError "Unable to write to …") passes to the caller
// after the dialog has been freed.
void EditSettings();

}  // namespace kelvra
