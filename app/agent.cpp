#include "app/agent.h"

#include <malloc.h>

#include <boost/asio/strand.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "agent_core/action_message_handler.h"
#include "agent_core/app_icon_provider.h"
#include "agent_core/app_message_handler.h"
#include "agent_core/shortcut_icon_provider.h"
#include "agent_core/shortcut_message_handler.h"
#include "agent_core/shortcut_wire_handler.h"
#include "agent_core/shortcuts_catalog.h"
#include "agent_core/shortcuts_runner.h"
#include "agent_core/shortcuts_tool.h"
#include "agent_core/system_action_runner.h"
#include "app/decks/deck_store.h"
#include "app/listener/live_request_executors.h"
#include "app/listener/request_router.h"
#include "app/pairing/paired_device_store.h"
#include "app/pairing/pairing_service.h"
#include "app/storage/data_paths.h"
#include "platform/linux/avahi_service_advertiser.h"
#include "platform/linux/desktop_entry_catalog.h"
#include "platform/linux/gio_workspace_client.h"
#include "platform/linux/host_name.h"
#include "platform/linux/icon_render_sources.h"
#include "platform/linux/posix_process_runner.h"
#include "platform/linux/pulse_audio_volume_controller.h"

namespace velopad {

namespace {

// The listener's DNS-SD advertisement through Avahi, with its notice for the view model.
// Starting and stopping Avahi's thread can wait on the bus, so both run in order on the pool,
// never on the listener's strand: a quit never waits for Avahi.
class AvahiAdvertising final : public ServiceAdvertising {
  public:
    explicit AvahiAdvertising(asio::thread_pool& pool)
        : serial_(asio::make_strand(pool)), advertiser_([this](const AdvertisementStatus& status) {
              std::lock_guard lock(mutex_);
              notice_ = status.notice;
          }) {}

    // Lets the calls already handed to the pool finish first (the pool normally runs them at
    // once; a pool that no longer runs anything is not waited for long).
    ~AvahiAdvertising() override {
        std::unique_lock lock(pendingMutex_);
        drained_.wait_for(lock, std::chrono::seconds(2), [this] { return pending_ == 0; });
    }

    void advertise(const std::string& name, std::uint16_t port) override {
        inOrder([this, name, port] { advertiser_.start(name, port); });
    }
    void withdraw() override {
        inOrder([this] { advertiser_.stop(); });
    }

    std::optional<std::string> notice() const {
        std::lock_guard lock(mutex_);
        return notice_;
    }

  private:
    void inOrder(std::function<void()> call) {
        {
            std::lock_guard lock(pendingMutex_);
            ++pending_;
        }
        asio::post(serial_, [this, call = std::move(call)] {
            call();
            std::lock_guard lock(pendingMutex_);
            --pending_;
            drained_.notify_all();
        });
    }

    asio::strand<asio::thread_pool::executor_type> serial_;
    std::mutex pendingMutex_;
    std::condition_variable drained_;
    int pending_ = 0;
    mutable std::mutex mutex_;
    std::optional<std::string> notice_;
    AvahiServiceAdvertiser advertiser_;  // last: its callback uses the fields above
};

Task<void> pushDecksIfAlive(std::weak_ptr<AgentViewModel> weakViewModel) {
    if (auto viewModel = weakViewModel.lock()) co_await viewModel->pushDecks();
}

}  // namespace

struct Agent::Parts {
    Parts(Executor executor, asio::thread_pool& pool, const AgentConfig& config)
        : workspace(makeLinuxWorkspaceClient(pool)),
          deckStore(executor, pool, config.decksPath, reportStoreProblemToStandardError),
          pairingService(executor, pool, makeDefaultPairedDeviceStore()),
          appMessageHandler{AppLauncher{workspace}},
          actionMessageHandler(SystemActionRunner(std::make_shared<PulseAudioVolumeController>())),
          processRunner(std::make_shared<PosixProcessRunner>(executor)),
          shortcutWireHandler(
              ShortcutMessageHandler(ShortcutsRunner(defaultShortcutsExecutable(), processRunner))),
          iconProvider(executor, pool, desktopAppIconSource()),
          shortcutIconProvider(executor, pool,
                               desktopShortcutIconSource(agentDataDirectory() / "Shortcuts")),
          executors(AgentComponents{pairingService, appMessageHandler, actionMessageHandler,
                                    shortcutWireHandler, deckStore, iconProvider,
                                    shortcutIconProvider, workspace, pool}),
          router(executors),
          editorExecutor(executor),
          editorPool(pool) {
        ListenerOptions listenerOptions;
        listenerOptions.port = config.port;
        listenerOptions.serviceName = [] { return computerName(); };
        if (config.advertise) {
            advertising = std::make_unique<AvahiAdvertising>(pool);
            listenerOptions.advertiser = advertising.get();
        }
        listener = ListenerService::create(executor, router, listenerOptions);

        AgentViewModelOptions viewOptions;
        viewOptions.computerName = [] { return computerName(); };
        viewOptions.advertisingNotice = [advertising =
                                             advertising.get()]() -> std::optional<std::string> {
            return advertising ? advertising->notice() : std::nullopt;
        };
        viewModel = AgentViewModel::create(executor, pairingService, *listener, viewOptions);
        viewModel->setProblemReporter(reportStoreProblemToStandardError);
    }

    WorkspaceClient workspace;
    DeckStore deckStore;
    PairingService pairingService;
    AppMessageHandler appMessageHandler;
    ActionMessageHandler actionMessageHandler;
    std::shared_ptr<PosixProcessRunner> processRunner;
    ShortcutWireHandler shortcutWireHandler;
    AppIconProvider iconProvider;
    ShortcutIconProvider shortcutIconProvider;
    LiveRequestExecutors executors;
    RequestRouter router;
    std::unique_ptr<AvahiAdvertising> advertising;
    std::shared_ptr<ListenerService> listener;
    std::shared_ptr<AgentViewModel> viewModel;
    Executor editorExecutor;
    asio::thread_pool& editorPool;
};

namespace {

// Icon rendering on the pool allocates picture-sized buffers in bursts. Two malloc arenas
// rather than one per thread, and such buffers in mappings of their own that go back to the
// system when freed (a fixed threshold: glibc's rises after each large free), keep those bursts
// from leaving megabytes of free memory resident. Set before the pool's threads allocate.
bool tuneAllocator() {
    ::mallopt(M_ARENA_MAX, 2);
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    return true;
}

}  // namespace

Agent::Agent(Executor executor, asio::thread_pool& pool, AgentConfig config) {
    static const bool tuned = tuneAllocator();
    (void)tuned;
    parts_ = std::make_unique<Parts>(std::move(executor), pool, config);
}

Agent::~Agent() = default;

void Agent::start() { parts_->viewModel->start(); }

Task<void> Agent::shutdown() {
    parts_->viewModel->stop();
    co_await parts_->listener->shutdown();
}

AgentViewModel& Agent::viewModel() { return *parts_->viewModel; }
std::shared_ptr<AgentViewModel> Agent::sharedViewModel() { return parts_->viewModel; }
ListenerService& Agent::listener() { return *parts_->listener; }

DeckEditorContext Agent::deckEditorContext() {
    DeckEditorContext context;
    context.executor = parts_->editorExecutor;
    context.pool = &parts_->editorPool;
    context.deckStore = &parts_->deckStore;
    context.workspace = parts_->workspace;
    context.installedApps = linuxInstalledAppsSource();
    context.shortcutsTool = defaultShortcutsExecutable();
    auto catalog =
        std::make_shared<ShortcutsCatalog>(context.shortcutsTool.string(), parts_->processRunner);
    context.listShortcuts = [catalog] { return catalog->list(); };
    context.shortcutIcons = [icons = &parts_->shortcutIconProvider] { return icons->preloadAll(); };
    const std::weak_ptr<AgentViewModel> viewModel = parts_->viewModel;
    context.isPhoneConnected = [viewModel] {
        const auto model = viewModel.lock();
        return model && model->state().hasConnectedPhone;
    };
    context.onSaved = [viewModel] { return pushDecksIfAlive(viewModel); };
    return context;
}

}  // namespace velopad
