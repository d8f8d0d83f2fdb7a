// Kills writers with SIGKILL at random moments and checks that the file they were replacing
// still reads, holding what it held before the interrupted write or what that write put there:
//   power_loss_proof decks <rounds> <directory>    a copy of itself in save mode, saving decks
//   power_loss_proof pairing <rounds>    the agent pairing and unpairing (bench/in-agent-sandbox)
//   power_loss_proof save <decks.json> <first n> <count>    prints "saved <n>" after each save

#include <signal.h>
#include <unistd.h>

#include <mutex>
#include <random>
#include <set>
#include <sstream>

#include "app/decks/deck_store.h"
#include "app/decks/deck_store_rules.h"
#include "app/pairing/paired_device_stored_form.h"
#include "app/storage/atomic_file.h"
#include "app/storage/data_paths.h"
#include "bench/proof_support.h"
#include "tests/support/io_thread.h"

namespace {

using namespace velopad;
using namespace velopad::proof;
namespace fs = std::filesystem;

std::mt19937_64 randomness{std::random_device{}()};

std::chrono::milliseconds randomPause(int low, int high) {
    return std::chrono::milliseconds(std::uniform_int_distribution<int>(low, high)(randomness));
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    std::exit(1);
}

// A reader that finds a file torn keeps it aside under this name.
void requireNoTornCopy(const fs::path& file) {
    if (fs::exists(fs::path(file) += ".corrupt")) fail(file.string() + ".corrupt appeared");
}

Task<std::optional<fs::path>> notInstalled(std::string) { co_return std::nullopt; }

// Deck n has 1 + n % 24 tiles, so that a deck torn between two saves shows.
int saveDecks(const fs::path& file, long first, long count) {
    test::IoThread io;
    DeckStore store(io.executor(), io.pool(), file);
    const WorkspaceClient workspace{.urlForApplication = &notInstalled};
    for (long n = first; n < first + count; ++n) {
        std::vector<DeckTile> tiles;
        for (std::int64_t slot = 1; slot <= 1 + n % 24; ++slot)
            tiles.push_back(
                {.slot = slot,
                 .label = "Application " + std::to_string(slot) + " of deck " + std::to_string(n),
                 .bundleId = "org.example.App" + std::to_string(slot)});
        const DeckTemplate deck("streaming", "Deck " + std::to_string(n), std::move(tiles));
        io.run(store.saveDeck(DeckCategoryID::streaming, deck, workspace));
        const std::string line = "saved " + std::to_string(n) + "\n";
        if (write(STDOUT_FILENO, line.data(), line.size()) < 0) return 1;
    }
    return 0;
}

long storedDeckNumber(const fs::path& path) {
    const auto text = readWholeFile(path);
    if (!text) fail(path.string() + " is missing");
    const auto decks = DeckStoreRules::decodeDecksFile(*text);
    if (!decks) fail(path.string() + " does not parse: " + text->substr(0, 200));
    for (const DeckTemplate& deck : *decks) {
        if (deck.id != "streaming") continue;
        if (deck.name.rfind("Deck ", 0) != 0) fail("unexpected deck name " + deck.name);
        const long n = std::stol(deck.name.substr(5));
        if (static_cast<long>(deck.tiles.size()) != 1 + n % 24) fail("torn deck " + deck.name);
        return n;
    }
    fail(path.string() + " has no streaming deck");
}

// Runs the save mode from deck `first`, killed by SIGKILL after `life`: the last deck it
// reported saved, or `first - 1`.
long runSaver(const fs::path& file, long first, long count, std::chrono::milliseconds life) {
    std::istringstream lines(velopad::testing::runCapturingOutput(
                                 {"timeout", "-s", "KILL", std::to_string(life.count() / 1000.0),
                                  fs::read_symlink("/proc/self/exe").string(), "save",
                                  file.string(), std::to_string(first), std::to_string(count)})
                                 .second);
    long saved = first - 1;  // each line is one write to the pipe: none is cut by the kill
    std::string word;
    for (long n; lines >> word >> n;) saved = n;
    return saved;
}

int runDecks(int rounds, const fs::path& directory) {
    const fs::path file = directory / "decks.json";
    if (runSaver(file, 0, 1, 60s) != 0) fail("the first save did not finish");
    long killedMidWrite = 0;
    long saves = 0;
    const auto start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        const long before = storedDeckNumber(file);
        const long saved = runSaver(file, before + 1, 1000000, randomPause(5, 120));
        const long stored = storedDeckNumber(file);
        if (stored != saved && stored != saved + 1)
            fail("round " + std::to_string(round) + ": decks.json holds deck " +
                 std::to_string(stored) + ", last saved " + std::to_string(saved));
        killedMidWrite += stored == saved + 1;
        saves += saved - before;
        requireNoTornCopy(file);
    }
    std::printf(
        "decks: %d kills in %.0f s, %ld saves completed, every decks.json parsed and held the "
        "last saved or the in-flight deck (%ld kills after the rename, before the save "
        "returned)\n",
        rounds, millisecondsSince(start) / 1000, saves, killedMidWrite);
    return 0;
}

using DeviceList = std::vector<std::string>;  // the paired device ids, in stored order

DeviceList storedDevices(const fs::path& path) {
    const auto text = readWholeFile(path);
    if (!text) return {};
    const auto devices = decodeStoredPairedDevices(*text);
    if (!devices) fail(path.string() + " does not parse: " + text->substr(0, 200));
    DeviceList ids;
    for (const PairedDevice& device : *devices) ids.push_back(device.id.toString());
    return ids;
}

int runPairing(int rounds) {
    const fs::path file = agentDataDirectory() / "paired-devices.json";
    long nextDevice = 1;
    long pairings = 0;
    const auto start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        const DeviceList before = storedDevices(file);
        test::AgentProcess agent;
        auto pin = agent.waitForLine("PIN: ", 30s);
        if (!pin) fail("round " + std::to_string(round) + ": no PIN: " + agent.output());
        // What the file may hold if the agent dies now: set by this thread, read by the killer at
        // the moment it kills.
        std::mutex mutex;
        std::set<DeviceList> acceptable{before}, allowed;
        const auto accept = [&](std::set<DeviceList> now) {
            std::lock_guard lock(mutex);
            acceptable = std::move(now);
        };
        std::thread killer([&] {
            std::this_thread::sleep_for(randomPause(0, 250));
            std::lock_guard lock(mutex);
            kill(agent.pid(), SIGKILL);
            allowed = acceptable;
        });
        // Pairs, unpairs, pairs the next device … until the agent is gone.
        try {
            for (DeviceList current = before;;) {
                if (!current.empty()) {
                    accept({current, {}});
                    agent.command("unpair");
                    pin = agent.waitForLine("PIN: ", 5s);
                    if (!pin) break;
                    current.clear();
                    accept({current});
                }
                const std::string id = messageId(0xA0000000, nextDevice++);
                accept({current, {id}});
                const auto reply = pair(*pin, id, 3s);
                if (!reply) break;
                if (nlohmann::json::parse(*reply)["type"] != "pair.ok") fail("refused: " + *reply);
                current = {id};
                accept({current});
                ++pairings;
            }
        } catch (const std::exception&) {
            // The agent died under a command or a connection: that is the point.
        }
        killer.join();
        (void)agent.waitForExit(5s);
        const DeviceList stored = storedDevices(file);
        if (!allowed.contains(stored))
            fail("round " + std::to_string(round) + ": paired-devices.json holds " +
                 nlohmann::json(stored).dump() + ", expected one of " +
                 nlohmann::json(allowed).dump());
        requireNoTornCopy(file);
    }
    std::printf(
        "pairing: %d kills of velopad-agent in %.0f s, %ld pairings confirmed, every "
        "paired-devices.json was absent or parsed and held the list before or after the step "
        "in flight\n",
        rounds, millisecondsSince(start) / 1000, pairings);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);  // writing to a killed agent fails instead of ending the proof
    const std::string mode = argc > 1 ? argv[1] : "";
    const int rounds = argument(argc, argv, 2, 0);
    if (mode == "decks" && argc == 4 && rounds > 0) return runDecks(rounds, argv[3]);
    if (mode == "pairing" && argc == 3 && rounds > 0) return runPairing(rounds);
    if (mode == "save" && argc == 5)
        return saveDecks(argv[2], std::atol(argv[3]), std::atol(argv[4]));
    std::fprintf(stderr,
                 "usage: power_loss_proof decks <rounds> <directory>\n"
                 "       power_loss_proof pairing <rounds>\n");
    return 2;
}
