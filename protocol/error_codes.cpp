#include "protocol/payloads.h"
#include "protocol/raw_value_table.h"

namespace velopad {
namespace {

using A = AppErrorCode;
constexpr auto kAppCodes =
    makeRawValueTable<A>(std::pair{A::notFound, std::string_view{"not_found"}},
                         std::pair{A::launchFailed, std::string_view{"launch_failed"}},
                         std::pair{A::focusFailed, std::string_view{"focus_failed"}},
                         std::pair{A::unauthorized, std::string_view{"unauthorized"}});

using C = ActionErrorCode;
constexpr auto kActionCodes =
    makeRawValueTable<C>(std::pair{C::unknown, std::string_view{"unknown"}},
                         std::pair{C::failed, std::string_view{"failed"}},
                         std::pair{C::unauthorized, std::string_view{"unauthorized"}});

using S = ShortcutErrorCode;
constexpr auto kShortcutCodes =
    makeRawValueTable<S>(std::pair{S::notFound, std::string_view{"not_found"}},
                         std::pair{S::runFailed, std::string_view{"run_failed"}},
                         std::pair{S::cancelled, std::string_view{"cancelled"}},
                         std::pair{S::timedOut, std::string_view{"timed_out"}},
                         std::pair{S::unauthorized, std::string_view{"unauthorized"}});

}  // namespace

std::string_view rawValue(AppErrorCode code) { return kAppCodes.raw(code); }
std::string_view rawValue(ActionErrorCode code) { return kActionCodes.raw(code); }
std::string_view rawValue(ShortcutErrorCode code) { return kShortcutCodes.raw(code); }

std::optional<AppErrorCode> appErrorCodeFromRawValue(std::string_view text) {
    return kAppCodes.find(text);
}
std::optional<ActionErrorCode> actionErrorCodeFromRawValue(std::string_view text) {
    return kActionCodes.find(text);
}
std::optional<ShortcutErrorCode> shortcutErrorCodeFromRawValue(std::string_view text) {
    return kShortcutCodes.find(text);
}

}  // namespace velopad
