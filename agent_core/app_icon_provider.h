#pragma once
// Application icons for the phone's keys: PNG bytes and their revision, cached per bundle
// identifier and rendered again when the installed application or its icon file changes on disk
// or the icon theme changes.
//
// An actor: its cache lives on its own strand, and callers go through one at a time in the
// order they came (rendering included), so one icon is never rendered twice at once.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent_core/async.h"
#include "agent_core/icon_revision.h"
#include "agent_core/workspace_client.h"

namespace velopad {

class SerialGate;

// How the platform reads an installed application's icon. Both operations block and are run
// on the provider's thread pool; both must be safe to call from any thread.
struct AppIconSource {
    // When the application at `url` last changed on disk; nothing when that cannot be read.
    std::function<std::optional<std::filesystem::file_time_type>(const std::filesystem::path& url)>
        contentModificationDate;
    // The icon the desktop shows for the application at `url`, as a square PNG of 128 × 128
    // pixels; nothing when it cannot be rendered.
    std::function<std::optional<PngBytes>(const std::filesystem::path& url)> renderIcon;
    // The look icons are drawn in now (the icon theme's name). Cached icons drawn in another
    // look are drawn again. May be left empty: then the look never changes.
    std::function<std::string()> appearance;
    // What identifies the icon file the application at `url` shows in the look `appearance`
    // (its path, size and modification time, say); a cached icon is drawn again when this
    // changes, so a replaced icon file gets a new revision even though the application's entry
    // stayed the same. May be left empty.
    std::function<std::string(const std::filesystem::path& url, const std::string& appearance)>
        iconStamp;
};

class AppIconProvider {
  public:
    struct CacheEntry {
        std::string revision;
        PngBytes pngData;
        std::optional<std::filesystem::file_time_type> contentModificationDate;
        std::string appearance;  // the source's appearance when the icon was drawn
        std::string iconStamp;   // the source's icon stamp when the icon was drawn
    };

    AppIconProvider(Executor executor, asio::thread_pool& pool, AppIconSource source);
    ~AppIconProvider();
    AppIconProvider(const AppIconProvider&) = delete;
    AppIconProvider& operator=(const AppIconProvider&) = delete;

    // The icon of the application installed under `bundleId` (exactly as given), or nothing
    // when it is not installed or its icon cannot be rendered. Failures are not cached.
    Task<std::optional<IconPng>> pngAndRevision(std::string bundleId, WorkspaceClient workspace);

    // The revisions of those of `bundleIds` that have an icon, as `pngAndRevision` gives them.
    Task<std::map<std::string, std::string>> revisions(std::vector<std::string> bundleIds,
                                                       WorkspaceClient workspace);

  private:
    Task<std::optional<IconPng>> lookUp(std::string bundleId, WorkspaceClient workspace);
    Task<std::optional<IconPng>> lookUpInSection(std::string bundleId, WorkspaceClient workspace);
    Task<std::map<std::string, std::string>> revisionsInSection(std::vector<std::string> bundleIds,
                                                                WorkspaceClient workspace);

    Strand strand_;
    asio::thread_pool& pool_;
    AppIconSource source_;
    std::unique_ptr<SerialGate> gate_;
    std::map<std::string, CacheEntry> cache_;  // touched on strand_ only
};

}  // namespace velopad
