#pragma once
// Loopback connections for the tests that start a Unix helper under Wine
// (the account service, the small disk): the helper lives as long as the
// test holds a connection to it, so that it goes when the test goes, even
// when the test dies.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace kelvra::testing {

// A connection to a loopback port, closed when the object goes.
class Lifeline {
  public:
    // Connects to 127.0.0.1:port; raises std::runtime_error when it cannot.
    explicit Lifeline(int port);
    ~Lifeline();
    Lifeline(const Lifeline&) = delete;
    Lifeline& operator=(const Lifeline&) = delete;

    // Closes the connection now.
    void Close();

  private:
    unsigned long long socket_;  // a SOCKET
};

// A loopback port on which nothing listens (bound and released at once).
int UnusedLoopbackPort();

// Calls done every 20 ms until it says true or the limit passes; false then.
bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit);

// Starts a mounting script of tests/service/ (python3 SCRIPT ARGUMENTS) and
// waits up to the limit for it to write "mounted PORT" into the state file:
// the lifeline that keeps the mount, or nothing with whyNot saying why (the
// state file's first line, or that the script did not start or answer).
std::unique_ptr<Lifeline> StartMountScript(const std::string& script, const std::wstring& arguments,
                                           const std::wstring& stateFile,
                                           std::chrono::seconds limit, std::string& whyNot);

// Wine's own export: the Unix path that a Windows path stands for.
std::string UnixPath(const std::wstring& windowsPath);

}  // namespace kelvra::testing
