#include "app/editor/deck_editor_model.h"

#include <boost/asio/experimental/awaitable_operators.hpp>
#include <exception>
#include <filesystem>
#include <utility>

#include "agent_core/app_accent_color.h"
#include "app/decks/deck_store.h"
#include "app/editor/deck_editor_texts.h"
#include "protocol/deck_template.h"

namespace velopad {

namespace {

// Application icons are drawn this many at a time; the library shows each batch as it comes.
constexpr std::size_t iconBatchSize = 24;

}  // namespace

std::shared_ptr<DeckEditorModel> DeckEditorModel::create(DeckEditorContext context) {
    return std::shared_ptr<DeckEditorModel>(new DeckEditorModel(std::move(context)));
}

DeckEditorModel::DeckEditorModel(DeckEditorContext context)
    : context_(std::move(context)), strand_(asio::make_strand(context_.executor)) {
    published_ = fields_;
}

DeckEditorState DeckEditorModel::state() const {
    std::lock_guard lock(publishedMutex_);
    return published_;
}

void DeckEditorModel::observe(Observer observer) {
    asio::post(strand_, [self = shared_from_this(), observer = std::move(observer)]() mutable {
        observer(self->fields_);
        self->observers_.push_back(std::move(observer));
    });
}

void DeckEditorModel::close() {
    asio::post(strand_, [self = shared_from_this()] {
        self->closed_ = true;
        self->observers_.clear();
    });
}

void DeckEditorModel::post(Task<void> command) {
    asio::co_spawn(strand_, std::move(command), [self = shared_from_this()](std::exception_ptr) {});
}

void DeckEditorModel::post(Edit edit) {
    asio::post(strand_, [self = shared_from_this(), edit = std::move(edit)] {
        edit(self->fields_);
        self->publish();
    });
}

void DeckEditorModel::publish() {
    {
        std::lock_guard lock(publishedMutex_);
        published_ = fields_;
    }
    for (const auto& observer : observers_) observer(fields_);
}

Task<void> DeckEditorModel::load() { co_await onStrand(strand_, loadOnStrand()); }
Task<void> DeckEditorModel::loadShortcuts() { co_await onStrand(strand_, loadShortcutsOnStrand()); }
Task<void> DeckEditorModel::save() { co_await onStrand(strand_, saveOnStrand()); }
Task<void> DeckEditorModel::reset() { co_await onStrand(strand_, resetOnStrand()); }
Task<void> DeckEditorModel::selectCategory(DeckCategoryID category) {
    co_await onStrand(strand_, selectCategoryOnStrand(category));
}
Task<bool> DeckEditorModel::update(Edit edit) {
    co_return co_await onStrand(strand_, updateOnStrand(std::move(edit)));
}

Task<bool> DeckEditorModel::updateOnStrand(Edit edit) {
    const bool changed = edit(fields_);
    publish();
    co_return changed;
}

Task<void> DeckEditorModel::loadOnStrand() {
    using namespace asio::experimental::awaitable_operators;
    co_await loadDeckOnStrand(fields_.selectedCategory);
    co_await (loadInstalledAppsOnStrand() && loadShortcutsOnStrand());
}

Task<void> DeckEditorModel::loadDeckOnStrand(DeckCategoryID category) {
    const auto generation = ++deckGeneration_;
    std::optional<DeckTemplate> deck;
    std::optional<std::string> failure;
    try {
        deck = co_await context_.deckStore->loadDeck(category, context_.workspace);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (generation != deckGeneration_) co_return;  // another category was chosen meanwhile
    if (deck) {
        fields_.adoptDeck(deck->name, deck->tiles);
    } else {
        fields_.isLoadingDeck = false;
        fields_.errorMessage = failure;
    }
    publish();
}

Task<void> DeckEditorModel::loadInstalledAppsOnStrand() {
    const auto scan = context_.installedApps.scanApplicationBundles;
    const auto iconFor = context_.installedApps.iconForApplication;
    if (!scan || !context_.pool) co_return;

    std::vector<AppBundleInfo> records;
    try {
        records = co_await runBlocking(*context_.pool, [&scan] { return scan(); });
    } catch (const std::exception&) {
        records.clear();  // the library stays empty
    }

    // Names first, so the library fills at once; icons follow batch by batch.
    std::vector<InstalledApp> apps;
    std::vector<std::filesystem::path> urls;
    for (const auto& record : records) {
        std::optional<std::filesystem::path> url;
        try {
            url = co_await context_.workspace.urlForApplication(record.bundleId);
        } catch (const std::exception&) {
            url.reset();
        }
        if (!url) continue;
        apps.push_back(
            InstalledApp{record.label, record.bundleId, record.iconName, {}, defaultAccent()});
        urls.push_back(*url);
    }
    fields_.installedApps = std::make_shared<const std::vector<InstalledApp>>(apps);
    publish();
    if (!iconFor) co_return;

    for (std::size_t start = 0; start < apps.size() && !closed_; start += iconBatchSize) {
        const std::size_t end = std::min(apps.size(), start + iconBatchSize);
        auto draw = [&apps, &urls, &iconFor, start, end] {
            for (std::size_t i = start; i < end; ++i) {
                std::optional<RgbaImage> icon;
                try {
                    icon = iconFor(urls[i]);
                } catch (const std::exception&) {
                    icon.reset();
                }
                if (!icon || !icon->isValid()) continue;
                apps[i].accent = accentColor(*icon).value_or(defaultAccent());
                apps[i].icon = std::move(*icon);
            }
        };
        co_await runBlocking(*context_.pool, std::move(draw));
        fields_.installedApps = std::make_shared<const std::vector<InstalledApp>>(apps);
        publish();
    }
}

Task<void> DeckEditorModel::loadShortcutsOnStrand() {
    using Kind = ShortcutsLoadState::Kind;
    const auto generation = ++shortcutsGeneration_;
    fields_.shortcutsLoadState = {Kind::loading, {}};
    publish();

    std::vector<CatalogShortcut> shortcuts;
    std::optional<std::string> failure;
    try {
        shortcuts = co_await context_.listShortcuts();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (generation != shortcutsGeneration_) co_return;  // a newer listing is under way
    if (failure) {
        fields_.shortcutsLoadState = {Kind::failed, *failure};
        publish();
        co_return;
    }
    fields_.catalogShortcuts = shortcuts;
    if (shortcuts.empty()) {
        fields_.shortcutsLoadState = {Kind::empty, {}};
        publish();
        co_return;
    }
    fields_.shortcutsLoadState = {Kind::loaded, {}};
    fields_.refreshShortcutLabels();
    publish();

    if (!context_.shortcutIcons || closed_) co_return;
    std::map<std::string, PngBytes> icons;
    try {
        icons = co_await context_.shortcutIcons();
    } catch (const std::exception&) {
        icons.clear();  // keys show their symbols
    }
    if (generation != shortcutsGeneration_) co_return;
    fields_.shortcutIcons =
        std::make_shared<const std::map<std::string, PngBytes>>(std::move(icons));
    publish();
}

Task<void> DeckEditorModel::runOnSaved() {
    if (!context_.onSaved) co_return;
    try {
        co_await context_.onSaved();
    } catch (const std::exception&) {
        // The deck is stored; phones get it with their next deck.sync.
    }
}

Task<void> DeckEditorModel::saveOnStrand() {
    if (fields_.isSaving) co_return;
    fields_.isSaving = true;
    publish();

    const DeckCategoryID category = fields_.selectedCategory;
    const std::string submittedName = fields_.deckName;
    const std::string name = nameToSave(submittedName, category);
    const std::vector<DeckTile> tiles = fields_.tiles;
    const auto generation = deckGeneration_;

    std::optional<std::string> failure;
    try {
        co_await context_.deckStore->saveDeck(
            category, DeckTemplate(std::string(rawValue(category)), name, tiles),
            context_.workspace);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure) {
        fields_.errorMessage = failure;
        fields_.isSaving = false;
        publish();
        co_return;
    }

    if (generation == deckGeneration_) {
        fields_.savedTiles = tiles;
        fields_.savedDeckName = name;
        // A blank name was stored as the category's name: show what was stored.
        if (fields_.deckName == submittedName && submittedName != name) {
            fields_.deckName = name;
            ++fields_.deckRevision;
        }
    }
    publish();
    co_await runOnSaved();

    const bool phoneConnected = context_.isPhoneConnected && context_.isPhoneConnected();
    if (!phoneConnected) {
        fields_.infoMessage = std::string(DeckEditorTexts::savedWithoutPhone);
        fields_.errorMessage.reset();
    }
    fields_.isSaving = false;
    publish();
    if (phoneConnected && context_.requestClose) context_.requestClose();
}

Task<void> DeckEditorModel::resetOnStrand() {
    const DeckCategoryID category = fields_.selectedCategory;
    const auto generation = ++deckGeneration_;
    std::optional<DeckTemplate> deck;
    std::optional<std::string> failure;
    try {
        deck = co_await context_.deckStore->resetDeck(category, context_.workspace);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (!deck) {
        fields_.errorMessage = failure;
        publish();
        co_return;
    }
    if (generation == deckGeneration_) {
        fields_.deckName = fields_.savedDeckName = deck->name;
        fields_.tiles = fields_.savedTiles = deck->tiles;
        fields_.errorMessage.reset();
        ++fields_.deckRevision;
        publish();
    }
    co_await runOnSaved();
}

Task<void> DeckEditorModel::selectCategoryOnStrand(DeckCategoryID category) {
    if (category == fields_.selectedCategory) co_return;
    fields_.selectedCategory = category;
    publish();
    co_await loadDeckOnStrand(category);
}

}  // namespace velopad
