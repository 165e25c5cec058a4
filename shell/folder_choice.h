// The folder choice dialog: the user picks the PC folder that loaded files
// go to. It opens at the process's current directory, can create a
// sub-folder (its label opens for a name at once), and accepts a folder only
// after a test file could be created and deleted in it. A confirmed folder
// becomes the process's current directory, so the next dialog opens there.
//
// Use: create it, set the caption, centre it, exec(); on Accepted take
// SelectedPath. Enter (or "Выбор") chooses, Esc (or "&Отмена") cancels; the
// caption bar has no close button where the window manager allows.
//
// Threads: GUI thread only; nothing here starts other work.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QAction;
class QFrame;
class QLabel;
class QPushButton;
class QToolBar;

namespace skarvel {

class TFolderTree;

class TfolderChoice : public QDialog {
    Q_OBJECT
public:
    explicit TfolderChoice(QWidget* owner = nullptr);

    QString NewFolderName;  // base name of created folders: "Новый каталог"
    QString TestFileName;   // the write test's file: "~~temp.tmp"
    // Empty until a folder is confirmed; then its full path ending in the
    // platform's separator ("/home/op/progs/", "/"). Meaningful only when the
    // dialog was accepted.
    QString SelectedPath;
    // Shows an error text in a box with an OK button; by default a Qt
    // critical message box over the dialog.
    std::function<void(const QString& text)> ShowError;

    QToolBar* ToolBar1;
    TFolderTree* ShellTreeView1;
    QPushButton* Button1;  // "Выбор"
    QPushButton* Button2;  // "&Отмена"
    QFrame* PanelStatus;
    QLabel* Label1;        // "Папка: " and the selected folder

    QAction* Home;          // the home folder (Alt+Home)
    QAction* CreateFolder;  // Ctrl+N, Alt+N
    QAction* choice;
    QAction* FileExit;

    // Selects the process's current directory in the tree, if it is there.
    void SelectStartFolder();
    void ShowFolderInStatus();
    void HomeExecute();
    void CreateFolderExecute();
    void choiceExecute();
    void FileExitExecute();
    // Esc and the window manager's close: the same as "&Отмена".
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateActions();
    void CreateComponents();
    void CreateFolderIn(const QString& parent);
    void ShowRenameError(const QString& path, const QString& newName);

    bool shown_ = false;
};

}  // namespace skarvel
