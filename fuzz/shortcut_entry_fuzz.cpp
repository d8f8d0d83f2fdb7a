// Reads arbitrary bytes as a Shortcut's desktop entry, the way velopad-shortcuts does before it
// lists or runs one: the [Desktop Entry] keys, then the Exec line's arguments. Whatever yields
// arguments is written back the way the tool creates an entry and must read back to the same
// name and arguments; escaping any value and reading it back must give the value.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "desktop_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velopad::shortcuts_tool;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (unescapeValue(escapeValue(text)) != text) std::abort();

    const DesktopEntry entry = parseDesktopEntry(text);
    const std::string file = "/home/user/.local/share/HarborlinkAgent/Shortcuts/x.desktop";
    const auto arguments = execArguments(entry.exec, entry, file);
    if (!arguments) return 0;

    std::string written =
        "[Desktop Entry]\nType=Application\nVersion=1.5\nName=" + escapeValue(entry.name) +
        "\nExec=" + escapeValue(execValue(*arguments)) + "\n";
    const DesktopEntry reread = parseDesktopEntry(written);
    if (reread.name != entry.name) std::abort();
    if (execArguments(reread.exec, reread, file) != arguments) std::abort();
    return 0;
}
