#pragma once
// The text a user is shown for a failure: the error's own description, without the source
// location and category prefix that Boost adds to what() ("... [system:98 at file:line]").

#include <exception>
#include <string>

namespace velopad {

std::string errorDescription(const std::exception& error);

}  // namespace velopad
