#pragma once
// Shortcut icons for the phone's keys and the deck editor: PNG bytes and their revision,
// cached per Shortcut identifier (letter case ignored) until the icon theme or the Shortcut's
// entry or icon file changes.
//
// An actor: its cache lives on its own strand. While an icon is being fetched the provider
// serves other callers, so two requests for the same missing icon may both fetch it.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "agent_core/async.h"
#include "agent_core/icon_revision.h"

namespace velopad {

// Where Shortcut icons come from. Both operations block and run on the provider's thread
// pool; both must be safe to call from any thread.
struct ShortcutIconSource {
    // The icon of the Shortcut with this identifier as a square PNG of 128 × 128 pixels;
    // nothing when there is no such Shortcut or its icon cannot be rendered.
    std::function<std::optional<PngBytes>(const std::string& identifier)> fetchIcon;
    // Every Shortcut that has an icon: its identifier as the source writes it, and the PNG,
    // in the source's order.
    std::function<std::vector<std::pair<std::string, PngBytes>>()> fetchAllIcons;
    // The look icons are drawn in now (the icon theme's name). Cached icons drawn in another
    // look are fetched again. May be left empty: then the look never changes.
    std::function<std::string()> appearance;
    // What identifies the Shortcut's icon as it is now (its entry's and its icon file's paths
    // and modification times, say). A cached icon whose stamp changed is fetched again. May be
    // left empty: then a cached icon stays until the look changes.
    std::function<std::string(const std::string& identifier)> stamp;
};

class ShortcutIconProvider {
  public:
    ShortcutIconProvider(Executor executor, asio::thread_pool& pool, ShortcutIconSource source);

    // The cache key: the identifier in lower case.
    static std::string normalizedKey(std::string_view identifier);

    // The cached icon, or the one fetched now (then cached). Nothing when there is none; that
    // is not remembered, so a later request asks the source again.
    Task<std::optional<IconPng>> pngAndRevision(std::string identifier);

    // The same steps, returning only the revision.
    Task<std::optional<std::string>> revision(std::string identifier);

    // Fetches every Shortcut icon in one pass and caches it. The result holds each icon under
    // its lower-case identifier and under the identifier as the source wrote it.
    Task<std::map<std::string, PngBytes>> preloadAll();

  private:
    Task<std::optional<IconPng>> lookUp(std::string identifier);
    Task<std::map<std::string, PngBytes>> preload();

    // The appearance and the Shortcut's stamp, as one text. Blocks; runs on the pool.
    std::string lookOf(const std::string& identifier) const;

    struct CacheEntry {
        IconPng icon;
        std::string appearance;  // lookOf when it was fetched
    };

    Strand strand_;
    asio::thread_pool& pool_;
    ShortcutIconSource source_;
    std::map<std::string, CacheEntry> cache_;  // touched on strand_ only
};

}  // namespace velopad
