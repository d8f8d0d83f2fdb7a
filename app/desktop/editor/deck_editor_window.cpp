#include "app/desktop/editor/deck_editor_window.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/desktop/editor/library_list.h"
#include "app/desktop/editor/phone_preview.h"
#include "app/desktop/editor/reduce_motion.h"
#include "app/desktop/editor/shortcuts_manager_dialog.h"
#include "app/desktop/fonts.h"
#include "app/desktop/glyphs.h"
#include "app/editor/deck_editor_texts.h"

namespace velopad::desktop {

namespace {

namespace Texts = DeckEditorTexts;

enum LibraryPage { listPage, noMatchesPage, loadingPage, failedPage, emptyPage };

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A label whose accessible name follows its text.
QLabel* makeLabel(const QString& text, QWidget* parent, bool wrap = false) {
    auto* label = new QLabel(text, parent);
    label->setAccessibleName(text);
    label->setWordWrap(wrap);
    return label;
}

void setLabelText(QLabel* label, const QString& text) {
    if (label->text() == text) return;
    label->setText(text);
    label->setAccessibleName(text);
}

QPushButton* makeButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAccessibleName(text);
    return button;
}

QPushButton* makeSegment(const QString& text, QButtonGroup* group, int id, QWidget* parent) {
    auto* button = makeButton(text, parent);
    button->setCheckable(true);
    group->addButton(button, id);
    return button;
}

QString resetText(DeckCategoryID category) {
    return QStringLiteral("Reset to ") + qs(displayName(category)) + QStringLiteral(" defaults");
}

}  // namespace

DeckEditorWindow::DeckEditorWindow(DeckEditorContext context, QWidget* parent) : QWidget(parent) {
    mailbox_ = std::make_shared<StateMailbox<DeckEditorState>>(
        this, [this](const DeckEditorState& state) { render(state); });
    const auto mailbox = mailbox_;
    // The close itself runs on the GUI thread, and only while this window is still there.
    context.requestClose = [mailbox, this] { mailbox->run([this] { close(); }); };
    model_ = DeckEditorModel::create(std::move(context));

    setWindowTitle(qs(Texts::windowTitle));
    setAccessibleName(qs(Texts::windowTitle));
    resize(defaultWidth, defaultHeight);
    reducedMotion_ = desktopPrefersReducedMotion();
    build();

    model_->observe([mailbox](const DeckEditorState& state) { mailbox->post(state); });
    model_->post(model_->load());
}

DeckEditorWindow::~DeckEditorWindow() {
    mailbox_->detach();
    model_->close();
}

bool DeckEditorWindow::isInEditMode() const {
    return !reducedMotion_ && (dragInProgress_ || state_.isDeckDragActive);
}

void DeckEditorWindow::setReducedMotion(bool reduced) {
    reducedMotion_ = reduced;
    renderPreview();
}

void DeckEditorWindow::edit(DeckEditorModel::Edit change) { model_->post(std::move(change)); }

void DeckEditorWindow::build() {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(24);
    layout->addWidget(buildLibrary(), 1);
    layout->addWidget(buildDeckSide(), 0);
}

QWidget* DeckEditorWindow::buildLibrary() {
    auto* side = new QWidget(this);
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);

    categories_ = new QButtonGroup(this);
    auto* categoryRow = new QHBoxLayout;
    for (const DeckCategoryID category : allDeckCategories) {
        categoryRow->addWidget(
            makeSegment(qs(displayName(category)), categories_, static_cast<int>(category), side));
    }
    categoryRow->addStretch(1);
    layout->addLayout(categoryRow);
    connect(categories_, &QButtonGroup::idClicked, this, [this](int id) {
        model_->post(model_->selectCategory(static_cast<DeckCategoryID>(id)));
    });

    libraryHeading_ = makeLabel(qs(Texts::appLibrary), side);
    libraryHeading_->setFont(typographyFont(DeckTypography::Family::display, 600, 22));
    layout->addWidget(libraryHeading_);

    tabs_ = new QButtonGroup(this);
    auto* tabRow = new QHBoxLayout;
    for (const LibraryTab tab : allLibraryTabs) {
        tabRow->addWidget(makeSegment(qs(title(tab)), tabs_, static_cast<int>(tab), side));
    }
    tabRow->addStretch(1);
    layout->addLayout(tabRow);
    connect(tabs_, &QButtonGroup::idClicked, this, [this](int id) {
        const auto tab = static_cast<LibraryTab>(id);
        edit([tab](DeckEditorState& state) {
            state.libraryTab = tab;
            return true;
        });
    });

    search_ = new QLineEdit(side);
    search_->setClearButtonEnabled(true);
    search_->setPlaceholderText(qs(Texts::searchApps));
    search_->setAccessibleName(qs(Texts::searchApps));
    layout->addWidget(search_);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        edit([text = text.toStdString()](DeckEditorState& state) {
            state.searchText = text;
            return true;
        });
    });

    auto* hintRow = new QHBoxLayout;
    hintRow->addWidget(makeLabel(qs(Texts::dragHint), side));
    auto* plus = new QLabel(side);
    plus->setPixmap(glyphPixmap("plus", 14, palette().color(QPalette::WindowText)));
    hintRow->addWidget(plus);
    hintRow->addStretch(1);
    layout->addLayout(hintRow);

    libraryStack_ = new QStackedWidget(side);
    libraryModel_ = new LibraryListModel(icons_, this);
    libraryView_ = new LibraryListView(libraryStack_);
    libraryView_->setModel(libraryModel_);
    auto* delegate = new LibraryCardDelegate(libraryView_);
    libraryView_->setItemDelegate(delegate);
    const auto addCard = [this](const QModelIndex& index) {
        const LibraryCard* card = libraryModel_->card(index.row());
        if (!card) return;
        edit([kind = card->kind, payload = card->payload](DeckEditorState& state) {
            return state.addCard(kind, payload);
        });
    };
    connect(delegate, &LibraryCardDelegate::addRequested, this, addCard);
    connect(libraryView_, &QListView::activated, this, addCard);
    connect(libraryView_, &LibraryListView::dragActive, this, &DeckEditorWindow::setDragInProgress);
    libraryStack_->insertWidget(listPage, libraryView_);

    noMatches_ = makeLabel(qs(Texts::noMatches), libraryStack_);
    noMatches_->setAlignment(Qt::AlignCenter);
    libraryStack_->insertWidget(noMatchesPage, noMatches_);

    auto* loading = new QProgressBar(libraryStack_);
    loading->setRange(0, 0);
    loading->setTextVisible(false);
    loading->setMaximumWidth(200);
    auto* loadingPage = new QWidget(libraryStack_);
    auto* loadingLayout = new QVBoxLayout(loadingPage);
    loadingLayout->addStretch(1);
    loadingLayout->addWidget(loading, 0, Qt::AlignCenter);
    loadingLayout->addStretch(1);
    libraryStack_->insertWidget(LibraryPage::loadingPage, loadingPage);

    buildShortcutStates();
    layout->addWidget(libraryStack_, 1);
    layout->addWidget(buildSuggestedCard());
    return side;
}

QWidget* DeckEditorWindow::buildShortcutStates() {
    const auto reload = [this] { model_->post(model_->loadShortcuts()); };

    auto* failed = new QWidget(libraryStack_);
    auto* failedLayout = new QVBoxLayout(failed);
    failedLayout->addStretch(1);
    shortcutsFailure_ = makeLabel(QString(), failed, true);
    shortcutsFailure_->setAlignment(Qt::AlignCenter);
    failedLayout->addWidget(shortcutsFailure_);
    auto* retry = makeButton(qs(Texts::retry), failed);
    connect(retry, &QPushButton::clicked, this, reload);
    failedLayout->addWidget(retry, 0, Qt::AlignCenter);
    failedLayout->addStretch(1);
    libraryStack_->insertWidget(failedPage, failed);

    auto* empty = new QWidget(libraryStack_);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch(1);
    auto* emptyText = makeLabel(qs(Texts::emptyShortcuts), empty, true);
    emptyText->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(emptyText);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* open = makeButton(qs(Texts::openShortcuts), empty);
    connect(open, &QPushButton::clicked, this, &DeckEditorWindow::openShortcutsManager);
    buttons->addWidget(open);
    auto* refresh = makeButton(qs(Texts::refresh), empty);
    connect(refresh, &QPushButton::clicked, this, reload);
    buttons->addWidget(refresh);
    buttons->addStretch(1);
    emptyLayout->addLayout(buttons);
    emptyLayout->addStretch(1);
    libraryStack_->insertWidget(emptyPage, empty);
    return empty;
}

QWidget* DeckEditorWindow::buildSuggestedCard() {
    auto* card = new QFrame(this);
    card->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(card);
    auto* badge = makeLabel(qs(Texts::suggested), card);
    badge->setFont(typographyFont(DeckTypography::Family::ui, 600, 9));
    layout->addWidget(badge);
    auto* heading = makeLabel(qs(Texts::suggestedTitle), card);
    heading->setFont(typographyFont(DeckTypography::Family::display, 600, 15));
    layout->addWidget(heading);
    layout->addWidget(makeLabel(qs(Texts::suggestedBodyLead) + qs(Texts::suggestedShortcutName) +
                                    qs(Texts::suggestedBodyTail),
                                card, true));
    auto* open = makeButton(qs(Texts::openShortcuts), card);
    connect(open, &QPushButton::clicked, this, &DeckEditorWindow::openShortcutsManager);
    layout->addWidget(open, 0, Qt::AlignLeft);
    suggestedMissing_ = makeLabel(QString(), card, true);
    layout->addWidget(suggestedMissing_);
    suggestedCard_ = card;
    card->hide();
    return card;
}

QWidget* DeckEditorWindow::buildDeckSide() {
    auto* side = new QWidget(this);
    side->setFixedWidth(420);
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* nameRow = new QHBoxLayout;
    deckName_ = new QLineEdit(side);
    deckName_->setPlaceholderText(qs(Texts::deckNamePlaceholder));
    deckName_->setAccessibleName(qs(Texts::deckNamePlaceholder));
    deckName_->setFont(typographyFont(DeckTypography::Family::display, 600, 16));
    connect(deckName_, &QLineEdit::textEdited, this, [this](const QString& text) {
        edit([text = text.toStdString()](DeckEditorState& state) {
            state.deckName = text;
            return true;
        });
    });
    nameRow->addWidget(deckName_, 1);
    syncLabel_ = makeLabel(qs(Texts::synced), side);
    nameRow->addWidget(syncLabel_);
    layout->addLayout(nameRow);

    preview_ = new PhonePreview(side);
    auto* scroll = new QScrollArea(side);
    scroll->setWidget(preview_);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(scroll, 1);
    connect(preview_, &PhonePreview::dropped, this, [this](int index, const QString& text) {
        edit([index, text = text.toStdString()](DeckEditorState& state) {
            return state.drop({text}, index);
        });
    });
    connect(preview_, &PhonePreview::dropTargetChanged, this, [this](int index, bool entering) {
        edit([index, entering](DeckEditorState& state) {
            state.setDropTarget(index, entering);
            return true;
        });
    });
    connect(preview_, &PhonePreview::removeRequested, this, [this](int index) {
        edit([index](DeckEditorState& state) { return state.removeTile(index); });
    });
    connect(preview_, &PhonePreview::dragActive, this, &DeckEditorWindow::setDragInProgress);

    const QString note = qs(Texts::previewNoteLead) + QLatin1Char(' ') + qs(Texts::saveToPhone) +
                         QLatin1Char(' ') + qs(Texts::previewNoteTail);
    auto* noteLabel = makeLabel(note, side, true);
    noteLabel->setTextFormat(Qt::RichText);
    noteLabel->setText(qs(Texts::previewNoteLead).toHtmlEscaped() + QStringLiteral(" <b>") +
                       qs(Texts::saveToPhone).toHtmlEscaped() + QStringLiteral("</b> ") +
                       qs(Texts::previewNoteTail).toHtmlEscaped());
    layout->addWidget(noteLabel);

    gamingNote_ = makeLabel(qs(Texts::gamingNote), side, true);
    gamingNote_->hide();
    layout->addWidget(gamingNote_);
    shortcutTip_ = makeLabel(qs(Texts::firstShortcutTip), side, true);
    shortcutTip_->hide();
    layout->addWidget(shortcutTip_);
    info_ = makeLabel(QString(), side, true);
    info_->hide();
    layout->addWidget(info_);
    error_ = makeLabel(QString(), side, true);
    error_->setStyleSheet(QStringLiteral("color: rgb(255,69,58);"));
    error_->hide();
    layout->addWidget(error_);

    auto* buttons = new QHBoxLayout;
    reset_ = makeButton(resetText(DeckCategoryID::streaming), side);
    connect(reset_, &QPushButton::clicked, this, [this] { model_->post(model_->reset()); });
    buttons->addWidget(reset_);
    buttons->addStretch(1);
    auto* cancel = makeButton(qs(Texts::cancel), side);
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    buttons->addWidget(cancel);
    save_ = makeButton(qs(Texts::saveToPhone), side);
    save_->setDefault(true);
    connect(save_, &QPushButton::clicked, this, [this] { model_->post(model_->save()); });
    buttons->addWidget(save_);
    layout->addLayout(buttons);
    return side;
}

void DeckEditorWindow::render(const DeckEditorState& state) {
    const bool cardsChanged =
        !hasState_ || state.libraryTab != state_.libraryTab ||
        state.searchText != state_.searchText || state.installedApps != state_.installedApps ||
        state.catalogShortcuts != state_.catalogShortcuts ||
        state.shortcutIcons != state_.shortcutIcons || state.tiles != state_.tiles;
    state_ = state;
    hasState_ = true;
    icons_.update(state_);

    categories_->button(static_cast<int>(state_.selectedCategory))->setChecked(true);
    tabs_->button(static_cast<int>(state_.libraryTab))->setChecked(true);
    renderLibrary(cardsChanged);

    if (state_.deckRevision != shownDeckRevision_) {
        shownDeckRevision_ = state_.deckRevision;
        deckName_->setText(QString::fromStdString(state_.deckName));
    }
    setLabelText(syncLabel_, qs(state_.syncLabel()));
    renderPreview();

    const bool gaming = state_.selectedCategory == DeckCategoryID::gaming;
    gamingNote_->setVisible(gaming);
    const QString reset = resetText(state_.selectedCategory);
    if (reset_->text() != reset) {
        reset_->setText(reset);
        reset_->setAccessibleName(reset);
    }
    shortcutTip_->setVisible(state_.showFirstShortcutTip);
    setLabelText(info_, QString::fromStdString(state_.infoMessage.value_or(std::string())));
    info_->setVisible(state_.infoMessage.has_value());
    setLabelText(error_, QString::fromStdString(state_.errorMessage.value_or(std::string())));
    error_->setVisible(state_.errorMessage.has_value());
    save_->setEnabled(!state_.isSaving && !state_.isLoadingDeck);
    reset_->setEnabled(!state_.isSaving && !state_.isLoadingDeck);
}

void DeckEditorWindow::renderLibrary(bool cardsChanged) {
    using Kind = ShortcutsLoadState::Kind;
    const LibraryTab tab = state_.libraryTab;
    const std::string_view heading = tab == LibraryTab::apps      ? Texts::appLibrary
                                     : tab == LibraryTab::actions ? Texts::actionLibrary
                                                                  : Texts::shortcutsLibrary;
    setLabelText(libraryHeading_, qs(heading));
    const QString placeholder = qs(tab == LibraryTab::apps      ? Texts::searchApps
                                   : tab == LibraryTab::actions ? Texts::searchActions
                                                                : Texts::searchShortcuts);
    search_->setPlaceholderText(placeholder);
    search_->setAccessibleName(placeholder);

    if (cardsChanged) libraryModel_->setCards(state_.visibleCards(), state_.isFull());

    int page =
        libraryModel_->rowCount() == 0 && !state_.searchText.empty() ? noMatchesPage : listPage;
    if (tab == LibraryTab::shortcuts) {
        switch (state_.shortcutsLoadState.kind) {
            case Kind::loading:
                page = loadingPage;
                break;
            case Kind::failed:
                page = failedPage;
                setLabelText(shortcutsFailure_,
                             QString::fromStdString(state_.shortcutsLoadState.message));
                break;
            case Kind::empty:
                page = emptyPage;
                break;
            case Kind::loaded:
                break;
        }
    }
    libraryStack_->setCurrentIndex(page);

    suggestedCard_->setVisible(tab == LibraryTab::shortcuts &&
                               !ShortcutsCatalog::findHero(state_.catalogShortcuts));
    const std::string missing = state_.suggestedCardMissingLine();
    setLabelText(suggestedMissing_, QString::fromStdString(missing));
    suggestedMissing_->setVisible(!missing.empty());
}

void DeckEditorWindow::renderPreview() {
    if (!hasState_) return;
    preview_->display(
        state_.tiles, state_.slotCount(), icons_,
        [this](const DeckTile& tile) { return state_.isMissing(tile); }, state_.dropTargetIndex,
        isInEditMode());
}

void DeckEditorWindow::setDragInProgress(bool active) {
    dragInProgress_ = active;
    if (!active) {
        edit([](DeckEditorState& state) {
            state.setDeckDragActive(false);
            return true;
        });
    }
    renderPreview();
}

void DeckEditorWindow::openShortcutsManager() {
    auto* dialog = new ShortcutsManagerDialog(
        QString::fromStdString(model_->context().shortcutsTool.string()), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [this] { model_->post(model_->loadShortcuts()); });
    dialog->open();
}

}  // namespace velopad::desktop
