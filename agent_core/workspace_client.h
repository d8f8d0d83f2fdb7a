#pragma once
// The replaceable workspace operations the agent needs: find, open, activate and list
// applications. An application is named by its bundle identifier; on Linux that is a
// desktop-file ID such as "org.gnome.Nautilus" or "firefox" (the file name without ".desktop").
//
// Every operation is asynchronous and may be awaited from any executor. Fakes written as
// lambdas should not be coroutines with captures (the captures could die before the coroutine
// finishes); forward to a free coroutine function that takes its arguments by value instead.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent_core/async.h"
#include "agent_core/running_application_client.h"

namespace velopad {

struct WorkspaceClient {
    // Where the application with this identifier is installed (its desktop entry file), or
    // nothing when no listed application has it.
    std::function<Task<std::optional<std::filesystem::path>>(std::string bundleId)>
        urlForApplication;

    // A handle on a running instance of the application, or nothing when none runs. With
    // several instances, the first in the system's listing.
    std::function<Task<std::optional<RunningApplicationClient>>(std::string bundleId)>
        runningApplication;

    // Opens the application installed at `url` (a result of `urlForApplication`). True when
    // the system reports a launched application, false when it reports none. Throws a
    // std::exception whose what() is the system's description when the launch fails.
    std::function<Task<bool>(std::filesystem::path url)> openApplication;

    // Identifiers of the applications running now, each once, in the system's order. May be
    // left empty by fakes that do not need it (then it yields nothing).
    std::function<Task<std::vector<std::string>>()> runningApplicationIds;

    // A number that stays the same for as long as `urlForApplication` and `runningApplication`
    // answer as they did for every identifier asked about while it held; nothing when that is
    // not known right now. Asking keeps those answers current. May be left empty (then answers
    // are never reused).
    std::function<std::optional<std::uint64_t>()> answersVersion;

    // Those of `bundleIds` for which `urlForApplication` yields a URL.
    Task<std::set<std::string>> installedBundleIds(std::vector<std::string> bundleIds) const;

    // Those of `bundleIds` for which `runningApplication` yields a handle.
    Task<std::set<std::string>> runningBundleIds(std::vector<std::string> bundleIds) const;

    // `runningApplicationIds`, or nothing when the operation is not set.
    Task<std::vector<std::string>> listRunningApplicationIds() const;
};

}  // namespace velopad
