// Kills writers with SIGKILL at random moments and checks that the file they were replacing
// still reads, holding what it held before the interrupted write or what that write put there.
//
//   power_loss_proof decks <rounds> <deck_save_loop> <directory>
//       deck_save_loop saves "Deck <n>" over and over; after each kill decks.json must hold
//       the last deck it reported saved, or the one it was saving.
//   power_loss_proof pairing <rounds>
//       the real velopad-agent (file store: run without a D-Bus session, XDG dirs set by the
//       caller, inside a private network namespace) pairs a phone over its WebSocket port,
//       unpairs from its terminal, pairs the next phone, …; after each kill
//       paired-devices.json must be absent or hold the list before or after the step in flight.
//
// Prints one summary line per mode and exits non-zero at the first file that breaks the rule.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/decks/deck_store_rules.h"
#include "app/pairing/paired_device_stored_form.h"
#include "app/storage/atomic_file.h"
#include "app/storage/data_paths.h"
#include "tests/support/agent_process.h"
#include "tests/support/ws_client.h"

extern char** environ;

namespace {

using namespace velopad;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::mt19937_64 randomness{std::random_device{}()};

int randomMillis(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(randomness);
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    std::exit(1);
}

// Files in `directory` other than the ones named: left-over temporary files.
int strayFiles(const fs::path& directory, const std::set<std::string>& expected) {
    int count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
        if (!expected.contains(entry.path().filename().string())) ++count;
    }
    return count;
}

void requireNoCorruptCopy(const fs::path& file) {
    fs::path corrupt = file;
    corrupt += ".corrupt";
    if (fs::exists(corrupt)) fail(corrupt.string() + " appeared: a reader found a torn file");
}

// ---- decks -------------------------------------------------------------------------------

// The streaming deck's number, checked against the tile count deck_save_loop gives it.
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

struct Child {
    pid_t pid;
    int output;
};

Child spawnSaver(const std::string& program, const fs::path& file, long first, long count) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> arguments{program, file.string(), std::to_string(first),
                                       std::to_string(count)};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (error != 0) throw std::runtime_error("cannot start " + program);
    return {pid, out[0]};
}

// The last "saved <n>" the child printed, or `fallback`.
long lastSaved(int output, long fallback) {
    std::string all;
    char chunk[4096];
    ssize_t count;
    while ((count = read(output, chunk, sizeof chunk)) > 0) all.append(chunk, count);
    close(output);
    const auto at = all.rfind("saved ");
    if (at == std::string::npos) return fallback;
    const auto end = all.find('\n', at);
    if (end == std::string::npos) return fallback;  // a line cut by the kill
    return std::stol(all.substr(at + 6, end - at - 6));
}

int runDecks(int rounds, const std::string& saver, const fs::path& directory) {
    const fs::path file = directory / "decks.json";
    fs::create_directories(directory);
    {  // the first content, written without interruption
        const Child child = spawnSaver(saver, file, 0, 1);
        int status = 0;
        waitpid(child.pid, &status, 0);
        if (lastSaved(child.output, -1) != 0) fail("the first save did not finish");
    }
    long killedMidWrite = 0;
    long saves = 0;
    int strays = 0;
    const auto start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        const long before = storedDeckNumber(file);
        const Child child = spawnSaver(saver, file, before + 1, 1000000);
        std::this_thread::sleep_for(std::chrono::milliseconds(randomMillis(5, 120)));
        kill(child.pid, SIGKILL);
        int status = 0;
        waitpid(child.pid, &status, 0);
        const long saved = lastSaved(child.output, before);
        const long stored = storedDeckNumber(file);
        if (stored != saved && stored != saved + 1)
            fail("round " + std::to_string(round) + ": decks.json holds deck " +
                 std::to_string(stored) + ", last saved " + std::to_string(saved));
        if (stored == saved + 1) ++killedMidWrite;
        saves += saved - before;
        requireNoCorruptCopy(file);
        strays = strayFiles(directory, {"decks.json"});
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "decks: %d kills in %.0f s, %ld saves completed, every decks.json parsed and held the "
        "last saved or the in-flight deck (%ld kills after the rename, before the save "
        "returned); %d temporary files left behind\n",
        rounds, seconds, saves, killedMidWrite, strays);
    return 0;
}

// ---- pairing -----------------------------------------------------------------------------

constexpr std::uint16_t agentPort = 9847;

std::string deviceId(long k) {
    char text[40];
    std::snprintf(text, sizeof text, "A0000000-0000-4000-8000-%012ld", k);
    return text;
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

// What the file may hold if the agent dies now, kept by the driving thread and read by the
// killing one.
class Acceptable {
  public:
    void settle(const DeviceList& state) {
        std::lock_guard lock(mutex_);
        states_ = {state};
    }
    void begin(const DeviceList& next) {
        std::lock_guard lock(mutex_);
        states_.insert(next);
    }
    std::set<DeviceList> killNow(pid_t pid) {
        std::lock_guard lock(mutex_);
        kill(pid, SIGKILL);
        return states_;
    }

  private:
    std::mutex mutex_;
    std::set<DeviceList> states_;
};

std::optional<test::WsClient> connectWithin(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        try {
            return std::optional<test::WsClient>(std::in_place, agentPort);
        } catch (const std::exception&) {
            if (Clock::now() > deadline) return std::nullopt;
            std::this_thread::sleep_for(10ms);
        }
    }
}

// Pairs, unpairs, pairs the next device … until the agent is gone; counts the pairings made.
void pairUntilKilled(test::AgentProcess& agent, std::string pin, Acceptable& acceptable,
                     DeviceList current, long& nextDevice, long& pairings) {
    for (;;) {
        if (!current.empty()) {
            acceptable.begin({});
            agent.command("unpair");
            const auto fresh = agent.waitForLine("PIN: ", 5s);
            if (!fresh) return;
            pin = *fresh;
            current.clear();
            acceptable.settle(current);
        }
        const std::string id = deviceId(nextDevice++);
        auto phone = connectWithin(3s);
        if (!phone) return;
        acceptable.begin({id});
        phone->send(R"({"type":"pair.request","id":")" + id +
                    R"(","payload":{"method":"pin","secret":")" + pin +
                    R"(","deviceName":"Proof Phone","deviceId":")" + id + R"("}})");
        const auto reply = phone->receive(5s);
        if (!reply) return;
        const auto json = nlohmann::json::parse(*reply);
        if (json["type"] != "pair.ok") fail("pairing refused: " + *reply);
        current = {id};
        acceptable.settle(current);
        ++pairings;
    }
}

std::string describe(const DeviceList& devices) {
    std::string text = "[";
    for (const auto& id : devices) text += (text.size() > 1 ? "," : "") + id;
    return text + "]";
}

int runPairing(int rounds) {
    const fs::path file = agentDataDirectory() / "paired-devices.json";
    long nextDevice = 1;
    long pairings = 0;
    int strays = 0;
    const auto start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        const DeviceList before = storedDevices(file);
        test::AgentProcess agent;
        const auto pin = agent.waitForLine("PIN: ", 30s);
        if (!pin) {
            const auto status = agent.waitForExit(1s);
            fail(
                "round " + std::to_string(round) + ": the agent printed no PIN (" +
                (status ? "exit status " + std::to_string(*status) : std::string("still running")) +
                "): " + agent.output());
        }
        Acceptable acceptable;
        acceptable.settle(before);
        std::set<DeviceList> allowed;
        std::thread killer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(randomMillis(0, 250)));
            allowed = acceptable.killNow(agent.pid());
        });
        try {
            pairUntilKilled(agent, *pin, acceptable, before, nextDevice, pairings);
        } catch (const std::exception&) {
            // The agent died under a command or a connection: that is the point.
        }
        killer.join();
        (void)agent.waitForExit(5s);
        const DeviceList stored = storedDevices(file);
        if (!allowed.contains(stored)) {
            std::string expected;
            for (const auto& state : allowed) expected += " " + describe(state);
            fail("round " + std::to_string(round) + ": paired-devices.json holds " +
                 describe(stored) + ", expected one of" + expected);
        }
        requireNoCorruptCopy(file);
        strays = strayFiles(file.parent_path(), {"paired-devices.json", "decks.json"});
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "pairing: %d kills of velopad-agent in %.0f s, %ld pairings confirmed, every "
        "paired-devices.json was absent or parsed and held the list before or after the step "
        "in flight; %d temporary files left behind\n",
        rounds, seconds, pairings, strays);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);  // writing to a killed agent fails instead of ending the proof
    const std::string mode = argc > 1 ? argv[1] : "";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 0;
    if (mode == "decks" && argc == 5 && rounds > 0) return runDecks(rounds, argv[3], argv[4]);
    if (mode == "pairing" && argc == 3 && rounds > 0) return runPairing(rounds);
    std::fprintf(stderr,
                 "usage: power_loss_proof decks <rounds> <deck_save_loop> <directory>\n"
                 "       power_loss_proof pairing <rounds>\n");
    return 2;
}
