// Feeds arbitrary bytes through what the agent does with the output of
// "velopad-shortcuts list --show-identifiers": the bounded output buffer (in chunks, with a
// limit taken from the input), its UTF-8 text, then the "Name (IDENTIFIER)" lines. Every
// Shortcut read must be well formed and read the same from its own line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent_core/process_output.h"
#include "agent_core/shortcut_text.h"
#include "agent_core/shortcuts_catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velopad;
    if (size < 2) return 0;
    const std::size_t limit = data[0] * 4 + 1;
    const std::size_t chunk = data[1] + 1;
    const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

    ProcessOutputBuffer buffer(limit);
    for (std::size_t at = 0; at < input.size(); at += chunk) buffer.append(input.substr(at, chunk));
    if (buffer.bytes().size() > limit || buffer.truncated() != (input.size() > limit)) std::abort();
    const std::string text = buffer.text();
    if (validUtf8PrefixLength(text) != text.size()) std::abort();

    for (const CatalogShortcut& shortcut : ShortcutsCatalog::parseListOutput(text)) {
        if (!ShortcutsCatalog::isShortcutIdentifier(shortcut.identifier) || shortcut.name.empty() ||
            trimWhitespaceAndLineBreaks(shortcut.name) != shortcut.name)
            std::abort();
        if (ShortcutsCatalog::parseListLine(shortcut.name + " (" + shortcut.identifier + ")") !=
            shortcut)
            std::abort();
    }
    (void)ShortcutsCatalog::findHero(ShortcutsCatalog::parseListOutput(text));
    return 0;
}
