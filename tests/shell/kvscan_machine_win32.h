#pragma once
// The machine of scan_machine_win32.h with runs of kvscan.exe as a separate
// process: whole-program tests only.

#include "shell/scan_machine_win32.h"

namespace kelvra::testing {

inline std::wstring KvscanExe() { return HostPathToWindows(KELVRA_KVSCAN_EXE); }

class KvscanMachine : public ScanMachine {
  protected:
    // One run on the data folder with the further arguments.
    ProgramResult Kvscan(std::wstring_view arguments) const {
        return RunProgram(Quoted(KvscanExe()) + L" --data-dir " + Quoted(data_.path()) + L" " +
                          std::wstring(arguments));
    }
};

}  // namespace kelvra::testing
