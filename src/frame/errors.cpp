#include "frame/errors.h"

#include <fmt/format.h>

namespace qtm {

namespace {

// The code is part of the text because the handlers only ever see what(); 99 is the update notice,
// which the user reads as a sentence, not as an error number.
std::string lf_userErrorText(std::int32_t code, const std::string& message) {
    if (code == 99) return message;
    return fmt::format("{}: {}", code, message);
}

}  // namespace

UserErrorException::UserErrorException(std::int32_t code, const std::string& message)
    : std::runtime_error(lf_userErrorText(code, message)) {}

}  // namespace qtm
