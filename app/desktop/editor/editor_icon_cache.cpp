#include "app/desktop/editor/editor_icon_cache.h"

#include <cctype>

#include "app/desktop/editor/key_face.h"

namespace velopad::desktop {

namespace {

QString key(const std::string& text) { return QString::fromStdString(text); }

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

void EditorIconCache::update(const DeckEditorState& state) {
    if (state.installedApps != apps_) {
        apps_ = state.installedApps;
        // Icons only ever arrive (batch after batch), so an application converted once is done.
        for (const auto& app : *apps_) {
            if (!app.icon.isValid() || appIcons_.contains(key(app.bundleId))) continue;
            appIcons_.insert(key(app.bundleId), QPixmap::fromImage(toQImage(app.icon)));
        }
    }
    if (state.shortcutIcons != shortcutIcons_) {
        shortcutIcons_ = state.shortcutIcons;
        decodedShortcutIcons_.clear();
    }
}

QPixmap EditorIconCache::appIcon(const std::string& bundleId) const {
    return appIcons_.value(key(bundleId));
}

QPixmap EditorIconCache::shortcutIcon(const std::string& identifier) {
    if (!shortcutIcons_) return {};
    if (const auto found = decodedShortcutIcons_.constFind(key(identifier));
        found != decodedShortcutIcons_.constEnd()) {
        return *found;
    }
    auto png = shortcutIcons_->find(identifier);
    if (png == shortcutIcons_->end()) png = shortcutIcons_->find(lowerCase(identifier));
    QPixmap pixmap;
    if (png != shortcutIcons_->end()) {
        pixmap.loadFromData(png->second.data(), static_cast<uint>(png->second.size()), "PNG");
    }
    decodedShortcutIcons_.insert(key(identifier), pixmap);
    return pixmap;
}

QPixmap EditorIconCache::iconFor(const DeckTile& tile) {
    switch (tile.kind) {
        case DeckTileKind::app:
            return appIcon(tile.bundleId);
        case DeckTileKind::shortcut:
            return tile.shortcutIdentifier ? shortcutIcon(*tile.shortcutIdentifier) : QPixmap();
        case DeckTileKind::action:
            break;
    }
    return {};
}

}  // namespace velopad::desktop
