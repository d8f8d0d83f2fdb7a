// Saves the streaming deck through the deck store again and again, naming it "Deck <n>" with a
// tile count that varies with n, and prints "saved <n>" after each save returns. The power-loss
// proof kills it at random moments and then reads what the file holds.
//   deck_save_loop <decks.json> <first n> <count>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/decks/deck_store.h"
#include "tests/support/io_thread.h"

namespace {

using namespace velopad;

Task<std::optional<std::filesystem::path>> notInstalled(std::string) { co_return std::nullopt; }

DeckTemplate deckNumber(long n) {
    std::vector<DeckTile> tiles(1 + n % 24);
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        tiles[i].slot = static_cast<std::int64_t>(i + 1);
        tiles[i].label = "Application " + std::to_string(i + 1) + " of deck " + std::to_string(n);
        tiles[i].bundleId = "org.example.App" + std::to_string(i + 1);
    }
    return DeckTemplate("streaming", "Deck " + std::to_string(n), std::move(tiles));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: deck_save_loop <decks.json> <first n> <count>\n");
        return 2;
    }
    const long first = std::atol(argv[2]);
    test::IoThread io;
    DeckStore store(io.executor(), io.pool(), argv[1]);
    WorkspaceClient workspace;
    workspace.urlForApplication = &notInstalled;
    for (long n = first; n < first + std::atol(argv[3]); ++n) {
        io.run(store.saveDeck(DeckCategoryID::streaming, deckNumber(n), workspace));
        const std::string line = "saved " + std::to_string(n) + "\n";
        if (write(STDOUT_FILENO, line.data(), line.size()) < 0) return 1;
    }
    io.drain();
    return 0;
}
