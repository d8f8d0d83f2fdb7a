#include "ui_kit/glyph_table.h"

#include <algorithm>
#include <array>

namespace velopad::GlyphTable {

namespace {

constexpr std::array table{
    // The tray item and the panel.
    Entry{"rectangle.grid.2x2", "layout-grid.svg"},
    Entry{"square.grid.2x2", "layout-grid.svg"},
    Entry{"iphone.gen3", "smartphone.svg"},
    Entry{"iphone", "smartphone.svg"},
    Entry{"lock.fill", "lock.svg"},
    Entry{"lock.open.fill", "lock-open.svg"},
    Entry{"exclamationmark.shield", "shield-alert.svg"},
    Entry{"exclamationmark.shield.fill", "shield-alert.svg"},
    Entry{"exclamationmark.triangle.fill", "triangle-alert.svg"},
    Entry{"exclamationmark.triangle", "triangle-alert.svg"},
    Entry{"info.circle", "info.svg"},
    Entry{"info.circle.fill", "info.svg"},
    Entry{"questionmark.circle", "circle-help.svg"},
    Entry{"power", "power.svg"},
    Entry{"arrow.clockwise", "rotate-cw.svg"},
    Entry{"arrow.counterclockwise", "rotate-ccw.svg"},
    Entry{"arrow.triangle.2.circlepath", "refresh-cw.svg"},
    Entry{"qrcode", "layout-grid.svg"},
    // The editor.
    Entry{"plus", "plus.svg"},
    Entry{"minus", "minus.svg"},
    Entry{"plus.circle.fill", "circle-plus.svg"},
    Entry{"minus.circle.fill", "circle-minus.svg"},
    Entry{"checkmark", "check.svg"},
    Entry{"checkmark.circle.fill", "circle-check.svg"},
    Entry{"xmark", "x.svg"},
    Entry{"xmark.circle.fill", "circle-x.svg"},
    Entry{"magnifyingglass", "search.svg"},
    Entry{"square.and.arrow.down", "download.svg"},
    Entry{"square.and.arrow.up", "upload.svg"},
    Entry{"pencil", "pencil.svg"},
    Entry{"trash", "trash-2.svg"},
    Entry{"trash.fill", "trash-2.svg"},
    Entry{"ellipsis", "ellipsis.svg"},
    Entry{"chevron.right", "chevron-right.svg"},
    Entry{"chevron.down", "chevron-down.svg"},
    Entry{"line.3.horizontal", "grip-vertical.svg"},
    Entry{"app", "app-window.svg"},
    Entry{"app.fill", "app-window.svg"},
    Entry{"square.stack.3d.up.fill", "app-window.svg"},
    Entry{"gamecontroller", "gamepad-2.svg"},
    Entry{"gamecontroller.fill", "gamepad-2.svg"},
    Entry{"eye", "eye.svg"},
    Entry{"eye.slash", "eye-off.svg"},
    Entry{"arrow.up.forward.app", "square-arrow-out-up-right.svg"},
    // Built-in actions, Shortcuts and the default Shortcut symbol.
    Entry{"slider.horizontal.3", "sliders-horizontal.svg"},
    Entry{"arrow.triangle.turn.up.right.diamond.fill", "signpost.svg"},
    Entry{"speaker.wave.1.fill", "volume-1.svg"},
    Entry{"speaker.wave.2.fill", "volume-2.svg"},
    Entry{"speaker.wave.3.fill", "volume-2.svg"},
    Entry{"speaker.fill", "volume-1.svg"},
    Entry{"speaker.slash.fill", "volume-x.svg"},
    Entry{"mic.fill", "mic.svg"},
    Entry{"mic", "mic.svg"},
    // Key faces of the built-in templates.
    Entry{"video.fill", "video.svg"},
    Entry{"bubble.left.and.bubble.right.fill", "messages-square.svg"},
    Entry{"globe", "globe.svg"},
    Entry{"safari.fill", "compass.svg"},
    Entry{"music.note", "music.svg"},
    Entry{"play.tv.fill", "tv-minimal-play.svg"},
    Entry{"waveform", "audio-waveform.svg"},
    Entry{"message.fill", "message-circle.svg"},
    Entry{"music.note.list", "list-music.svg"},
    Entry{"terminal.fill", "square-terminal.svg"},
    Entry{"folder.fill", "folder.svg"},
    Entry{"gearshape.fill", "settings.svg"},
    // Symbols a user may give a Shortcut.
    Entry{"play.fill", "play.svg"},
    Entry{"pause.fill", "pause.svg"},
    Entry{"forward.fill", "fast-forward.svg"},
    Entry{"backward.fill", "rewind.svg"},
    Entry{"record.circle", "circle-dot.svg"},
    Entry{"headphones", "headphones.svg"},
    Entry{"antenna.radiowaves.left.and.right", "radio-tower.svg"},
    Entry{"dot.radiowaves.left.and.right", "radio.svg"},
    Entry{"wifi", "wifi.svg"},
    Entry{"keyboard", "keyboard.svg"},
    Entry{"command", "command.svg"},
    Entry{"bolt.fill", "zap.svg"},
    Entry{"star.fill", "star.svg"},
    Entry{"heart.fill", "heart.svg"},
    Entry{"bell.fill", "bell.svg"},
    Entry{"camera.fill", "camera.svg"},
    Entry{"photo", "image.svg"},
    Entry{"film", "film.svg"},
    Entry{"doc.fill", "file.svg"},
    Entry{"doc.on.clipboard", "clipboard.svg"},
    Entry{"scissors", "scissors.svg"},
    Entry{"calendar", "calendar.svg"},
    Entry{"clock.fill", "clock.svg"},
    Entry{"house.fill", "house.svg"},
    Entry{"link", "link.svg"},
    Entry{"envelope.fill", "mail.svg"},
    Entry{"phone.fill", "phone.svg"},
    Entry{"sun.max.fill", "sun.svg"},
    Entry{"moon.fill", "moon.svg"},
    Entry{"lightbulb.fill", "lightbulb.svg"},
    Entry{"wand.and.stars", "wand-sparkles.svg"},
    Entry{"display", "monitor.svg"},
    Entry{"desktopcomputer", "monitor.svg"},
    Entry{"cursorarrow.click", "mouse-pointer-click.svg"},
    Entry{"paintbrush.fill", "paintbrush.svg"},
    Entry{"shippingbox.fill", "package.svg"},
    Entry{"flame.fill", "flame.svg"},
    Entry{"bookmark.fill", "bookmark.svg"},
    Entry{"flag.fill", "flag.svg"},
    Entry{"tag.fill", "tag.svg"},
    Entry{"person.fill", "user.svg"},
    Entry{"person.2.fill", "users.svg"},
    Entry{"cpu", "cpu.svg"},
    Entry{"paperplane.fill", "send.svg"},
};

}  // namespace

std::span<const Entry> entries() { return table; }

bool contains(std::string_view symbol) {
    return std::any_of(table.begin(), table.end(),
                       [symbol](const Entry& entry) { return entry.symbol == symbol; });
}

std::string_view fileFor(std::string_view symbol) {
    for (const auto& entry : table) {
        if (entry.symbol == symbol) return entry.file;
    }
    return neutralFile;
}

}  // namespace velopad::GlyphTable
