#include "app/desktop/editor/shortcuts_manager_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

#include "agent_core/shortcuts_catalog.h"

namespace velopad::desktop {

namespace {

constexpr int identifierRole = Qt::UserRole + 1;

QPushButton* makeButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAccessibleName(text);
    return button;
}

}  // namespace

bool askForShortcut(QWidget* parent, const QString& title, ShortcutForm& form,
                    ShortcutFormKind kind) {
    const bool withName = kind != ShortcutFormKind::edit;
    const bool withCommand = kind != ShortcutFormKind::rename;
    const bool keepsEmpty = kind == ShortcutFormKind::edit;
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setAccessibleName(title);
    auto* layout = new QFormLayout(&dialog);

    auto* name = new QLineEdit(form.name, &dialog);
    name->setAccessibleName(QStringLiteral("Name"));
    auto* command = new QLineEdit(form.command, &dialog);
    command->setAccessibleName(QStringLiteral("Command"));
    command->setPlaceholderText(keepsEmpty ? QStringLiteral("Unchanged")
                                           : QStringLiteral("cursor --new-window"));
    auto* icon = new QLineEdit(form.icon, &dialog);
    icon->setAccessibleName(QStringLiteral("Icon (optional)"));
    if (keepsEmpty) icon->setPlaceholderText(QStringLiteral("Unchanged"));
    auto* choose = makeButton(QStringLiteral("Choose\u2026"), &dialog);
    QObject::connect(choose, &QPushButton::clicked, &dialog, [&dialog, icon] {
        const QString file =
            QFileDialog::getOpenFileName(&dialog, QStringLiteral("Icon (optional)"), {},
                                         QStringLiteral("Images (*.png *.svg *.xpm *.jpg)"));
        if (!file.isEmpty()) icon->setText(file);
    });
    auto* iconRow = new QHBoxLayout;
    iconRow->addWidget(icon, 1);
    iconRow->addWidget(choose);

    if (withName) layout->addRow(QStringLiteral("Name"), name);
    if (withCommand) {
        layout->addRow(QStringLiteral("Command"), command);
        layout->addRow(QStringLiteral("Icon (optional)"), iconRow);
    } else {
        icon->hide();
        choose->hide();
        delete iconRow;
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    const auto updateOk = [&] {
        const bool hasCommand = !command->text().trimmed().isEmpty();
        buttons->button(QDialogButtonBox::Ok)
            ->setEnabled(keepsEmpty ? hasCommand || !icon->text().trimmed().isEmpty()
                                    : (!withName || !name->text().trimmed().isEmpty()) &&
                                          (!withCommand || hasCommand));
    };
    QObject::connect(name, &QLineEdit::textChanged, &dialog, updateOk);
    QObject::connect(command, &QLineEdit::textChanged, &dialog, updateOk);
    QObject::connect(icon, &QLineEdit::textChanged, &dialog, updateOk);
    updateOk();

    if (dialog.exec() != QDialog::Accepted) return false;
    form.name = name->text().trimmed();
    form.command = command->text().trimmed();
    form.icon = icon->text().trimmed();
    return true;
}

ShortcutsManagerDialog::ShortcutsManagerDialog(QString toolPath, QWidget* parent)
    : QDialog(parent),
      toolPath_(std::move(toolPath)),
      list_(new QListWidget(this)),
      problem_(new QLabel(this)),
      createButton_(makeButton(QStringLiteral("New Shortcut\u2026"), this)),
      renameButton_(makeButton(QStringLiteral("Rename\u2026"), this)),
      editButton_(makeButton(QStringLiteral("Edit\u2026"), this)),
      deleteButton_(makeButton(QStringLiteral("Delete"), this)) {
    setWindowTitle(QStringLiteral("Shortcuts"));
    setAccessibleName(QStringLiteral("Shortcuts"));
    resize(520, 420);

    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: rgb(255,69,58);"));
    problem_->hide();
    list_->setAccessibleName(QStringLiteral("Shortcuts"));

    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {createButton_, renameButton_, editButton_, deleteButton_}) {
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    auto* close = makeButton(QStringLiteral("Close"), this);
    buttons->addWidget(close);

    auto* row = new QHBoxLayout;
    row->addWidget(list_, 1);
    row->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addWidget(problem_);

    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(createButton_, &QPushButton::clicked, this, &ShortcutsManagerDialog::createShortcut);
    connect(renameButton_, &QPushButton::clicked, this, &ShortcutsManagerDialog::renameShortcut);
    connect(editButton_, &QPushButton::clicked, this, &ShortcutsManagerDialog::editShortcut);
    connect(deleteButton_, &QPushButton::clicked, this, &ShortcutsManagerDialog::deleteShortcut);
    connect(list_, &QListWidget::currentRowChanged, this, &ShortcutsManagerDialog::updateButtons);
    reload();
}

ShortcutsManagerDialog::~ShortcutsManagerDialog() {
    for (QProcess* process : findChildren<QProcess*>()) process->disconnect(this);
}

void ShortcutsManagerDialog::runTool(const QStringList& arguments, Finished finished) {
    setBusy(true);
    auto* process = new QProcess(this);
    connect(process, &QProcess::finished, this,
            [this, process, finished](int exitCode, QProcess::ExitStatus status) {
                const QString output = QString::fromUtf8(process->readAllStandardOutput());
                QString error = QString::fromUtf8(process->readAllStandardError()).trimmed();
                process->deleteLater();
                setBusy(false);
                finished(status == QProcess::NormalExit ? exitCode : -1, output, error);
            });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        showProblem(process->errorString());
        process->deleteLater();
        setBusy(false);
    });
    process->start(toolPath_, arguments);
}

void ShortcutsManagerDialog::setBusy(bool busy) {
    busy_ = busy;
    updateButtons();
}

void ShortcutsManagerDialog::showProblem(const QString& text) {
    problem_->setText(text);
    problem_->setAccessibleName(text);
    problem_->setVisible(!text.isEmpty());
}

void ShortcutsManagerDialog::updateButtons() {
    const bool selected = list_->currentItem() != nullptr;
    createButton_->setEnabled(!busy_);
    renameButton_->setEnabled(!busy_ && selected);
    editButton_->setEnabled(!busy_ && selected);
    deleteButton_->setEnabled(!busy_ && selected);
}

QString ShortcutsManagerDialog::selectedIdentifier() const {
    const QListWidgetItem* item = list_->currentItem();
    return item ? item->data(identifierRole).toString() : QString();
}

void ShortcutsManagerDialog::reload() {
    const QString keep = selectedIdentifier();
    runTool(
        {QStringLiteral("list"), QStringLiteral("--show-identifiers")},
        [this, keep](int exitCode, const QString& output, const QString& error) {
            if (exitCode != 0) {
                showProblem(error);
                return;
            }
            list_->clear();
            for (const auto& shortcut : ShortcutsCatalog::parseListOutput(output.toStdString())) {
                auto* item = new QListWidgetItem(QString::fromStdString(shortcut.name), list_);
                item->setData(identifierRole, QString::fromStdString(shortcut.identifier));
                if (item->data(identifierRole).toString() == keep) list_->setCurrentItem(item);
            }
            updateButtons();
        });
}

void ShortcutsManagerDialog::createShortcut() {
    ShortcutForm form;
    if (!askForShortcut(this, QStringLiteral("New Shortcut"), form, ShortcutFormKind::create)) {
        return;
    }
    QStringList arguments{QStringLiteral("create"), form.name};
    if (!form.icon.isEmpty()) arguments << QStringLiteral("--icon") << form.icon;
    arguments << QStringLiteral("--") << QProcess::splitCommand(form.command);
    runTool(arguments, [this](int exitCode, const QString&, const QString& error) {
        showProblem(exitCode == 0 ? QString() : error);
        reload();
    });
}

void ShortcutsManagerDialog::renameShortcut() {
    const QString identifier = selectedIdentifier();
    if (identifier.isEmpty()) return;
    ShortcutForm form;
    form.name = list_->currentItem()->text();
    if (!askForShortcut(this, QStringLiteral("Rename Shortcut"), form, ShortcutFormKind::rename)) {
        return;
    }
    runTool({QStringLiteral("rename"), identifier, form.name},
            [this](int exitCode, const QString&, const QString& error) {
                showProblem(exitCode == 0 ? QString() : error);
                reload();
            });
}

void ShortcutsManagerDialog::editShortcut() {
    const QString identifier = selectedIdentifier();
    if (identifier.isEmpty()) return;
    ShortcutForm form;
    if (!askForShortcut(this, QStringLiteral("Edit Shortcut"), form, ShortcutFormKind::edit)) {
        return;
    }
    QStringList arguments{QStringLiteral("edit"), identifier};
    if (!form.icon.isEmpty()) arguments << QStringLiteral("--icon") << form.icon;
    if (!form.command.isEmpty()) {
        arguments << QStringLiteral("--") << QProcess::splitCommand(form.command);
    }
    runTool(arguments, [this](int exitCode, const QString&, const QString& error) {
        showProblem(exitCode == 0 ? QString() : error);
        reload();
    });
}

void ShortcutsManagerDialog::deleteShortcut() {
    const QString identifier = selectedIdentifier();
    if (identifier.isEmpty()) return;
    const QString name = list_->currentItem()->text();
    const auto answer = QMessageBox::question(
        this, QStringLiteral("Delete"), QStringLiteral("Delete \u201c%1\u201d?").arg(name),
        QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Yes) return;
    runTool({QStringLiteral("delete"), identifier},
            [this](int exitCode, const QString&, const QString& error) {
                showProblem(exitCode == 0 ? QString() : error);
                reload();
            });
}

}  // namespace velopad::desktop
