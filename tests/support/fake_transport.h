#pragma once
// A transport for the process that answers what the test says and keeps
// every post it was given, installed for the lifetime of the object.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/scope.h"
#include "http/transport.h"

namespace kelvra::testing {

class FakeTransport {
  public:
    FakeTransport()
        : state_(std::make_shared<State>()), installed_(std::make_shared<Transport>(state_)) {}
    FakeTransport(const FakeTransport&) = delete;
    FakeTransport& operator=(const FakeTransport&) = delete;

    // Every later post gets this answer...
    void Answer(unsigned status, std::string body, std::string contentType = "text/html") {
        state_->answer = HttpAnswer{status, std::move(contentType), std::move(body)};
        state_->failure.reset();
    }
    // ...or fails with this transport error.
    void Fail(std::string what = "connection refused") { state_->failure = std::move(what); }

    const std::vector<HttpPost>& Posts() const { return state_->posts; }

  private:
    struct State {
        HttpAnswer answer{200, "text/html", "OK"};
        std::optional<std::string> failure;
        std::vector<HttpPost> posts;
    };
    struct Transport final : HttpTransport {
        explicit Transport(std::shared_ptr<State> s) : state(std::move(s)) {}
        HttpAnswer Post(const HttpPost& post) override {
            state->posts.push_back(post);
            if (state->failure) throw HttpError(*state->failure);
            return state->answer;
        }
        std::shared_ptr<State> state;
    };

    std::shared_ptr<State> state_;
    ScopedHook<&SetHttpTransport> installed_;
};

}  // namespace kelvra::testing
