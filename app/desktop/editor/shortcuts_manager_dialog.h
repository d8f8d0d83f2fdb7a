#pragma once
// The user's Shortcuts on this computer, managed from the deck editor: list, create (name,
// command, optional icon), rename, edit and delete, all through the Shortcuts tool. The tool
// runs as a child process without blocking the window.

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <functional>

namespace velopad::desktop {

class ShortcutsManagerDialog : public QDialog {
    Q_OBJECT

  public:
    ShortcutsManagerDialog(QString toolPath, QWidget* parent = nullptr);
    // A tool still running is stopped without telling this dialog.
    ~ShortcutsManagerDialog() override;

    // Lists the Shortcuts again.
    void reload();

  private:
    using Finished = std::function<void(int exitCode, const QString& output, const QString& error)>;

    void runTool(const QStringList& arguments, Finished finished);
    void setBusy(bool busy);
    void showProblem(const QString& text);
    void updateButtons();
    QString selectedIdentifier() const;

    void createShortcut();
    void renameShortcut();
    void editShortcut();
    void deleteShortcut();

    QString toolPath_;
    QListWidget* list_;
    QLabel* problem_;
    QPushButton* createButton_;
    QPushButton* renameButton_;
    QPushButton* editButton_;
    QPushButton* deleteButton_;
    bool busy_ = false;
};

// The fields of a Shortcut as the user types them.
struct ShortcutForm {
    QString name;
    QString command;  // one line, split like a shell would (quotes respected)
    QString icon;     // an icon name or an image file; empty: none
};

enum class ShortcutFormKind {
    create,  // name and command needed, icon optional
    rename,  // the name only
    edit,    // command and icon; an empty field keeps what the Shortcut has
};

// Asks for a Shortcut's fields; false when cancelled.
bool askForShortcut(QWidget* parent, const QString& title, ShortcutForm& form,
                    ShortcutFormKind kind);

}  // namespace velopad::desktop
