// The system's English text for an error number, whatever the user's locale.
#pragma once

#include <cstring>
#include <string>

namespace kp {

inline std::string ErrorText(int error) {
    const char* text = strerrordesc_np(error);
    return text != nullptr ? text : "Unknown error " + std::to_string(error);
}

}  // namespace kp
