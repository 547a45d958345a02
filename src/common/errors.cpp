#include "common/errors.h"

#include "common/textconv.h"

namespace kelvra {

KelvraError::KelvraError(std::wstring message)
    : std::runtime_error(WideToAnsi(message)), message_(std::move(message)) {}

std::wstring ErrorText(const std::exception& error) {
    if (const auto* own = dynamic_cast<const KelvraError*>(&error)) return own->message();
    return AnsiToWide(error.what());
}

}  // namespace kelvra
