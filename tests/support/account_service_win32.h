#pragma once
// The account-service stand-in of tests/service/account_service.py, run for
// one test: a real HTTP server on a free loopback port that records every
// request byte for byte and answers what the test asks for, optionally with
// a real HTTP proxy (tinyproxy, basic authentication) beside it.
//
// The Windows tests run under Wine, which starts a Unix program when
// CreateProcess is given one (its standard handles are not passed on, so the
// service reports its ports through a file). The service lives as long as a
// loopback connection that this object holds: when the object goes, or the
// test process dies, the connection closes and the service and its proxy
// stop by themselves.

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/loopback_win32.h"
#include "support/temp_dir.h"

namespace kelvra::testing {

#ifdef KELVRA_SOURCE_DIR
inline const std::string kAccountServiceScript =
    KELVRA_SOURCE_DIR "/tests/service/account_service.py";
// The key and certificate of an https service named "localhost".
inline const std::string kLocalhostCertificate = KELVRA_SOURCE_DIR "/tests/service/localhost.pem";
#endif

struct AccountServiceOptions {
    AccountServiceOptions(std::string script_, std::string proxyCredentials_ = {},
                          std::string tlsPem_ = {}, bool openProxy_ = false)
        : script(std::move(script_)),
          proxyCredentials(std::move(proxyCredentials_)),
          tlsPem(std::move(tlsPem_)),
          openProxy(openProxy_) {}

    std::string script;            // Unix path of account_service.py
    std::string proxyCredentials;  // "user:password" starts the proxy too
    std::string tlsPem;            // Unix path of a PEM key and certificate: https
    bool openProxy;                // starts the proxy without credentials
};

class AccountService {
  public:
    explicit AccountService(const AccountServiceOptions& options);
    ~AccountService();
    AccountService(const AccountService&) = delete;
    AccountService& operator=(const AccountService&) = delete;

    int Port() const { return port_; }
    int ProxyPort() const { return proxyPort_; }

    // "http://" (or "https://") + host + ":" + port.
    std::wstring BaseAddress(std::wstring_view host = L"127.0.0.1") const;

    // What the service answers from now on.
    void AnswerRaw(std::string_view rawAnswer);  // sent as it stands, then closed
    void Answer(int status, std::string_view body, std::string_view contentType = "text/html");
    void AnswerNothing();  // accepts, reads, never answers
    void AnswerLarge(std::size_t bodyBytes, bool chunked);
    // The raw answer one byte at a time, the given seconds apart.
    void AnswerDripping(std::string_view rawAnswer, double secondsPerByte);
    // A request of that method ("POST") is recorded, then its connection is
    // reset unanswered; other requests get the plain "OK".
    void ResetRequestsOf(std::string_view method);

    // Every request received so far, raw, in order.
    std::vector<std::string> Requests() const;

    // The proxy's log (connections and request lines).
    std::string ProxyLog() const;

    // A file the service folder holds, for tests that send it.
    const TempDir& Folder() const { return dir_; }

  private:
    void SetAnswerFile(std::string_view content);

    TempDir dir_;
    int port_ = 0;
    int proxyPort_ = 0;
    bool secure_ = false;
    std::unique_ptr<Lifeline> lifeline_;
};

// The certificate of a PEM file, trusted as a root by this Wine prefix for
// the object's lifetime: the https stand-in is trusted by the test prefix
// alone, never through a switch of the program. Make it before the process
// first uses a certificate store (each test runs in a process of its own).
class TrustedCertificate {
  public:
    explicit TrustedCertificate(const std::string& pemUnixPath);
    ~TrustedCertificate();
    TrustedCertificate(const TrustedCertificate&) = delete;
    TrustedCertificate& operator=(const TrustedCertificate&) = delete;

  private:
    std::wstring key_;  // the certificate's key among the prefix's trusted roots
};

}  // namespace kelvra::testing
