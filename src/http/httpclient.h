#pragma once
// The HTTP client of the program's form posts: a proxy with optional basic
// authentication sent at once, and one operation, POST of a form body, whose
// answer comes back as text. Each post builds its own exchange; nothing
// (connection, cookie, credential) outlives it.

#include <string>
#include <string_view>

#include "http/formdata.h"
#include "http/transport.h"

namespace kelvra {

// How the program announces itself to the service.
inline constexpr wchar_t kUserAgent[] = L"Mozilla/3.0 (compatible; Indy Library)";

class HttpClient {
  public:
    // Posts through the proxy at host:port from now on. The user name and
    // password are used only with basic authentication switched on.
    void SetProxy(std::wstring host, int port, std::wstring username, std::wstring password);

    // With basic authentication on, the proxy credentials answer the proxy's
    // challenge (407); they never go out before the proxy asks for them.
    void SetBasicProxyAuthentication(bool on) { basicProxyAuthentication_ = on; }

    // Posts the form to the address through the process's transport and
    // returns the answer's body as text: UTF-8 when the answer declares it,
    // otherwise the ANSI code page. Raises HttpError for a failed exchange,
    // an unusable address, a status outside 200-299, a body over
    // kMaxAnswerBytes and a proxy port outside 0-65535; raises FileError
    // when a file part cannot be read.
    std::wstring Post(const std::wstring& url, const FormData& form) const;

  private:
    bool useProxy_ = false;
    std::wstring proxyHost_;
    int proxyPort_ = 0;
    std::wstring proxyUsername_;
    std::wstring proxyPassword_;
    bool basicProxyAuthentication_ = false;
};

// "Basic " + base64 of user + ":" + password, in the ANSI code page.
std::string BasicAuthorization(std::wstring_view username, std::wstring_view password);

// The body as text: UTF-8 when the Content-Type carries charset=utf-8 (or the
// body starts with a UTF-8 byte-order mark, which is dropped), otherwise the
// ANSI code page.
std::wstring AnswerText(std::string_view body, std::string_view contentType);

}  // namespace kelvra
