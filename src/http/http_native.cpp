// The native build has no network client of its own: every post fails, as an
// unreachable service would, so the callers' failure paths are what runs.
// Tests that need answers install a transport of their own.

#include "http/transport.h"

namespace kelvra {
namespace {

class UnavailableTransport final : public HttpTransport {
  public:
    HttpAnswer Post(const HttpPost&) override {
        throw HttpError("this build has no HTTP transport");
    }
};

}  // namespace

std::unique_ptr<HttpTransport> MakePlatformTransport(const HttpTimeouts&) {
    return std::make_unique<UnavailableTransport>();
}

}  // namespace kelvra
