// The user-error exception: something the user can and must mend, shown on the error line with its code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qtm {

class UserErrorException : public std::runtime_error {
public:
    // Code 99 shows the message alone; every other code is shown as "<code>: " before the message.
    UserErrorException(std::int32_t code, const std::string& message);
};

}  // namespace qtm
