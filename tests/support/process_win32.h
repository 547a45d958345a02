#pragma once
// Runs a Windows program of the build as a separate process, for tests that
// check a whole program from the outside.

#include <string>

namespace kelvra::testing {

struct ProgramResult {
    unsigned long exitCode = 0;
    std::string output;  // standard output and standard error, as written
    bool timedOut = false;
};

// commandLine is passed to CreateProcessW as it stands (quote paths with
// blanks yourself). A program still running after timeoutMs is killed.
ProgramResult RunProgram(const std::wstring& commandLine, unsigned long timeoutMs = 120000);

// A path of the build tree (a Linux path) as Wine shows it: on drive Z:.
std::wstring HostPathToWindows(const std::string& hostPath);

// The quoted form of a path for a command line, as the C runtime parses it.
std::wstring Quoted(const std::wstring& path);

}  // namespace kelvra::testing
