#include "agent_core/error_description.h"

#include <boost/system/system_error.hpp>

namespace velopad {

std::string errorDescription(const std::exception& error) {
    if (const auto* boostError = dynamic_cast<const boost::system::system_error*>(&error)) {
        return boostError->code().message();
    }
    return error.what();
}

}  // namespace velopad
