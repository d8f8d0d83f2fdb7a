// Launch and focus rules, reply building and the bytes-in, bytes-out path, over a scripted
// workspace.

#include "agent_core/app_launcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include "agent_core/app_message_handler.h"
#include "agent_core/app_wire_handler.h"
#include "tests/support/io_thread.h"

namespace velopad {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct WorkspaceScript {
    std::map<std::string, std::filesystem::path> installed;
    std::map<std::string, bool> running;  // identifier → what activate answers
    bool openAnswer = true;
    std::optional<std::string> openFailure;  // thrown by openApplication
    std::vector<std::string> activated;
    std::vector<std::filesystem::path> opened;
};
using Script = std::shared_ptr<WorkspaceScript>;

Task<bool> activateIn(Script script, std::string id) {
    script->activated.push_back(id);
    co_return script->running.at(id);
}

Task<std::optional<RunningApplicationClient>> runningIn(Script script, std::string id) {
    if (!script->running.contains(id)) co_return std::nullopt;
    co_return RunningApplicationClient{std::bind_front(activateIn, script, id)};
}

Task<std::optional<std::filesystem::path>> urlIn(Script script, std::string id) {
    auto found = script->installed.find(id);
    if (found == script->installed.end()) co_return std::nullopt;
    co_return found->second;
}

Task<bool> openIn(Script script, std::filesystem::path url) {
    script->opened.push_back(url);
    if (script->openFailure) throw std::runtime_error(*script->openFailure);
    co_return script->openAnswer;
}

WorkspaceClient scriptedWorkspace(const Script& script) {
    return {.urlForApplication = std::bind_front(urlIn, script),
            .runningApplication = std::bind_front(runningIn, script),
            .openApplication = std::bind_front(openIn, script)};
}

// A request or reply as the phone and the agent write it, with the given type and payload.
std::string wire(const std::string& type, const std::string& payload,
                 const std::string& id = "6F1D2C3B-4A59-4E8F-9D7C-1B2A3C4D5E6F") {
    return R"({"id":")" + id + R"(","payload":)" + payload + R"(,"type":")" + type + "\"}";
}

class AppLauncherTest : public ::testing::Test {
  protected:
    AppLauncherOutcome launch(const std::string& id) {
        return io.run(AppLauncher{scriptedWorkspace(script)}.launch(id));
    }
    AppLauncherOutcome focus(const std::string& id) {
        return io.run(AppLauncher{scriptedWorkspace(script)}.focus(id));
    }
    std::optional<std::string> handle(const std::string& bytes) {
        const AppWireHandler wire{AppMessageHandler{AppLauncher{scriptedWorkspace(script)}}};
        return io.run(wire.handle(bytes));
    }

    Script script = std::make_shared<WorkspaceScript>();
    test::IoThread io;
};

AppLauncherOutcome failure(const std::string& id, AppErrorCode code, const std::string& message) {
    return AppLauncherOutcome::failure(id, code, message);
}

TEST_F(AppLauncherTest, LaunchActivatesARunningApplicationOrOpensTheInstalledOneFocusNeverOpens) {
    script->installed["firefox"] = "/apps/firefox.desktop";
    EXPECT_EQ(launch("firefox"), AppLauncherOutcome::ok("firefox"));
    EXPECT_THAT(script->opened, ElementsAre("/apps/firefox.desktop"));
    EXPECT_EQ(launch("Firefox"), failure("Firefox", AppErrorCode::notFound,
                                         "No application found for bundle identifier"));
    script->openAnswer = false;
    EXPECT_EQ(launch("firefox"),
              failure("firefox", AppErrorCode::launchFailed, "Failed to launch application"));
    script->openFailure = "Failed to execute child process \xe2\x80\x9c/nope\xe2\x80\x9d";
    EXPECT_EQ(launch("firefox"),
              failure("firefox", AppErrorCode::launchFailed,
                      "Failed to execute child process \xe2\x80\x9c/nope\xe2\x80\x9d"));

    script->opened.clear();
    script->running["firefox"] = true;
    EXPECT_EQ(launch("firefox"), AppLauncherOutcome::ok("firefox"));
    EXPECT_THAT(script->activated, ElementsAre("firefox"));
    script->running["firefox"] = false;
    EXPECT_EQ(launch("firefox"),
              failure("firefox", AppErrorCode::focusFailed, "Failed to activate application"));

    script->running.erase("firefox");  // focus never opens
    EXPECT_EQ(focus("firefox"),
              failure("firefox", AppErrorCode::notFound, "Application is not running"));
    script->running["firefox"] = true;
    EXPECT_EQ(focus("firefox"), AppLauncherOutcome::ok("firefox"));
    script->running["firefox"] = false;
    EXPECT_EQ(focus("firefox"),
              failure("firefox", AppErrorCode::focusFailed, "Failed to activate application"));
    EXPECT_THAT(script->opened, IsEmpty());
}

TEST_F(AppLauncherTest, RepliesCarryTheRequestIdAndBundleIdAndOtherTypesGetNone) {
    script->installed["a"] = "/apps/a.desktop";
    EXPECT_EQ(
        handle(wire("app.launch", R"({"bundleId":"a"})", "6f1d2c3b-4a59-4e8f-9d7c-1b2a3c4d5e6f")),
        wire("app.ok", R"({"bundleId":"a"})"));
    EXPECT_EQ(handle(wire("App.Launch", R"({"bundleId":"a"})")), std::nullopt);
    for (const std::string& bytes :
         {std::string("not json"), wire("app.focus", R"({"bundleId":7})")})
        EXPECT_ANY_THROW(handle(bytes)) << bytes;
}

}  // namespace
}  // namespace velopad
