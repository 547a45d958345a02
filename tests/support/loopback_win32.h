#pragma once
// Loopback connections for the tests that start a Unix helper under Wine
// (the account service, the small disk): the helper lives as long as the
// test holds a connection to it, so that it goes when the test goes, even
// when the test dies.

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

// Wine's own export: the Unix path that a Windows path stands for.
std::string UnixPath(const std::wstring& windowsPath);

}  // namespace kelvra::testing
