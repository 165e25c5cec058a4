// The folder choice dialog: finding the start folder, new folder names, the
// write test and its messages (without a display), then the dialog itself
// offscreen on temporary folders. /proc stands for a folder where nothing can
// be created: it refuses new entries even to root.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <set>

#include "shell/folder_choice.h"
#include "shell/folder_logic.h"
#include "shell/folder_tree.h"
#include "tests/ui/ui_test_support.h"

using namespace skarvel;

namespace {

const QString kTestFile = QStringLiteral("~~temp.tmp");

// Every test that confirms a folder moves the process's current directory.
struct KeepCurrentDir {
    QString Saved = QDir::currentPath();
    ~KeepCurrentDir() { QDir::setCurrent(Saved); }
};

// A temporary folder by its canonical path (the tree shows no links in it).
struct TempFolder {
    QTemporaryDir Dir;
    QString Path = QDir(Dir.path()).canonicalPath();
    QString Make(const QString& sub) const {
        QDir(Path).mkpath(sub);
        return Path + QLatin1Char('/') + sub;
    }
};

}  // namespace

TEST(FolderLogic, FindsAPathNameByNameExactly) {
    const std::map<QString, QStringList> tree = {{QString(), {"/", "C:/"}}, {"/", {"home", "tmp"}}, {"/home", {"op"}},
                                                 {"/home/op", {"Progs"}},     {"C:/", {"Data"}}};
    const TFolderLister list = [&](const QString& dir) {
        const auto it = tree.find(dir);
        return it == tree.end() ? QStringList() : it->second;
    };
    const std::pair<QString, QString> cases[] = {
        {"/", "/"}, {"/home/op/Progs", "/home/op/Progs"}, {"/home/op/Progs/", "/home/op/Progs"}, {"C:/Data", "C:/Data"},
        // Letter case differs from the folder's; a network path is not sought.
        {"/home/op/progs", ""}, {"/HOME", ""}, {"c:/Data", ""}, {"/home/missing/x", ""}, {"//server/share", ""},
        {"relative/op", ""}, {"", ""},
    };
    for (const auto& [path, found] : cases) EXPECT_EQ(FindFolder(path, list), found) << path.toStdString();
}

TEST(FolderLogic, NewFolderNames) {
    const QString base = DefaultNewFolderName();
    EXPECT_EQ(base, QStringLiteral("Новый каталог"));
    const struct {
        QString Base;
        std::set<QString> Taken;
        QString Name;
    } cases[] = {
        {base, {}, base},
        {base, {base}, base + "(1)"},
        {base, {base, base + "(1)"}, base + "(2)"},
        {base, {base + "(1)"}, base},
        {"", {base}, base + "(1)"},
        {"X", {"X", "X(1)", "X(2)"}, "X(3)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NewFolderName(c.Base, [&](const QString& n) { return c.Taken.count(n) > 0; }), c.Name);
}

TEST(FolderLogic, SelectedPathEndsInOneSeparator) {
    const struct {
        QString Path;
        QChar Separator;
        QString Native;
    } cases[] = {
        {"/data", '/', "/data/"}, {"/data/", '/', "/data/"}, {"/", '/', "/"},
        {"C:/Data", '\\', "C:\\Data\\"}, {"C:/", '\\', "C:\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(NativeFolderPath(c.Path, c.Separator), c.Native);
}

TEST(FolderLogic, WriteTestLeavesNothingBehind) {
    KeepCurrentDir keep;
    TempFolder tmp;
    const QString stale = tmp.Make("stale");
    {
        QFile f(stale + "/" + kTestFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    const QString dangling = tmp.Make("dangling");
    ASSERT_TRUE(QFile::link(tmp.Path + "/nowhere", dangling + "/" + kTestFile));

    for (const QString& folder : {tmp.Path, stale, dangling}) {
        const TChoice choice = ChooseFolder(folder, kTestFile);
        EXPECT_EQ(choice.SelectedPath, folder + "/");
        EXPECT_EQ(choice.Error, QString());
        EXPECT_EQ(QDir::currentPath(), folder);
        EXPECT_FALSE(PathTaken(folder + "/" + kTestFile)) << folder.toStdString();
    }
}

TEST(FolderLogic, FailedWriteTestsKeepTheFolderAndTellWhy) {
    KeepCurrentDir keep;
    TempFolder tmp;
    const QString file = tmp.Path + "/file";
    QFile(file).open(QIODevice::WriteOnly);
    TWriteTestOps cannotDelete = RealWriteTestOps();
    cannotDelete.Remove = [](const QString&) { return false; };
    TWriteTestOps cannotCreate = RealWriteTestOps();
    cannotCreate.CreateEmpty = [](const QString&) { return false; };

    const struct {
        QString Folder;
        TWriteTestOps Ops;
        QString Error;
        QString Cwd;  // the folder is the current directory even though it failed
    } cases[] = {
        {"/proc", RealWriteTestOps(), "Ошибка создания файла в каталоге \"/proc/\". Каталог не выбран.", "/proc"},
        {file, RealWriteTestOps(), "Ошибка создания файла в каталоге \"" + file + "/\". Каталог не выбран.",
         QDir::currentPath()},
        {tmp.Path, cannotCreate, "Ошибка создания файла в каталоге \"" + tmp.Path + "/\". Каталог не выбран.",
         tmp.Path},
        {tmp.Path, cannotDelete, "Ошибка выбора каталога " + tmp.Path + "/", tmp.Path},
    };
    for (const auto& c : cases) {
        QDir::setCurrent(keep.Saved);
        const TChoice choice = ChooseFolder(c.Folder, kTestFile, c.Ops);
        EXPECT_EQ(choice.SelectedPath, c.Folder + "/");
        EXPECT_EQ(choice.Error, c.Error);
        EXPECT_EQ(QDir::currentPath(), c.Cwd);
    }
}

// ---------------------------------------------------------------- the dialog

namespace {

struct Dialog {
    explicit Dialog(const QString& start) {
        QDir::setCurrent(start);
        Form.ShowError = [this](const QString& text) { Errors << text; };
        Form.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&Form));
    }
    TFolderTree* Tree() const { return Form.ShellTreeView1; }
    // The folder is created once its parent has been read: wait for its editor.
    QLineEdit* Editor() const {
        QLineEdit* editor = nullptr;
        test::ProcessUntil([&] { return (editor = Tree()->findChild<QLineEdit*>()) != nullptr; }, 5000);
        return editor;
    }
    QString Status() const { return Form.Label1->text(); }

    KeepCurrentDir Keep;
    TfolderChoice Form;
    QStringList Errors;
};

}  // namespace

TEST(FolderDialog, OpensAtTheCurrentDirectory) {
    TempFolder tmp;
    {
        Dialog d(tmp.Make("a/b"));
        EXPECT_EQ(d.Form.windowTitle(), QStringLiteral("Выбор каталога"));
        EXPECT_EQ(d.Tree()->SelectedFolder(), tmp.Path + "/a/b");
        EXPECT_EQ(d.Status(), "Папка: " + tmp.Path + "/a/b");
        EXPECT_TRUE(d.Tree()->hasFocus());

        // The status line follows the keyboard (Left: to the parent) and any mouse button.
        QTest::keyClick(d.Tree(), Qt::Key_Left);
        EXPECT_EQ(d.Status(), "Папка: " + tmp.Path + "/a");
        const QModelIndex b = d.Tree()->Model()->index(tmp.Path + "/a/b");
        QTest::mouseClick(d.Tree()->viewport(), Qt::RightButton, {}, d.Tree()->visualRect(b).center());
        EXPECT_EQ(d.Tree()->SelectedFolder(), tmp.Path + "/a/b");
        EXPECT_EQ(d.Status(), "Папка: " + tmp.Path + "/a/b");
    }
    {
        // Below a hidden folder: not in the tree, nothing selected, nothing to choose.
        Dialog d(tmp.Make(".hidden/c"));
        EXPECT_EQ(d.Status(), QStringLiteral("Папка: "));
        QTest::keyClick(d.Tree(), Qt::Key_Return);
        EXPECT_EQ(d.Errors, QStringList{"Каталог не выбран"});
        EXPECT_TRUE(d.Form.isVisible());
    }
}

TEST(FolderDialog, CreatesFoldersAndRenamesThemInPlace) {
    TempFolder tmp;
    const QString base = DefaultNewFolderName();
    tmp.Make(base + "(1)");
    tmp.Make("Taken");
    Dialog d(tmp.Path);

    QTest::keyClick(d.Tree(), Qt::Key_N, Qt::ControlModifier);
    QLineEdit* editor = d.Editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(QFileInfo(tmp.Path + "/" + base).isDir());
    EXPECT_EQ(d.Tree()->SelectedFolder(), tmp.Path + "/" + base);
    editor->setText("Программы");
    QTest::keyClick(editor, Qt::Key_Return);  // the editor commits from the event loop
    EXPECT_TRUE(test::ProcessUntil([&] { return QFileInfo(tmp.Path + "/Программы").isDir(); }, 5000));
    EXPECT_FALSE(QFileInfo::exists(tmp.Path + "/" + base));
    EXPECT_EQ(d.Tree()->SelectedFolder(), tmp.Path + "/Программы");

    // Alt+N under the same parent: the next free name; a refused name is reported.
    ASSERT_TRUE(d.Tree()->SelectFolder(tmp.Path));
    QTest::keyClick(d.Tree(), Qt::Key_N, Qt::AltModifier);
    editor = d.Editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(d.Tree()->SelectedFolder(), tmp.Path + "/" + base);
    editor->setText("Taken");
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(test::ProcessUntil([&] { return !d.Errors.isEmpty(); }, 5000));
    EXPECT_EQ(d.Errors, QStringList{"Ошибка переименования каталога " + tmp.Path + "/" + base + " в \"Taken\""});
    EXPECT_TRUE(QFileInfo(tmp.Path + "/" + base).isDir());
}

TEST(FolderDialog, NoFolderCanBeCreatedInProc) {
    Dialog d(QStringLiteral("/proc"));
    d.Form.CreateFolder->trigger();
    ASSERT_TRUE(test::ProcessUntil([&] { return !d.Errors.isEmpty(); }, 5000));
    EXPECT_EQ(d.Errors, QStringList{"Ошибка создания каталога /proc/" + DefaultNewFolderName()});
    EXPECT_EQ(d.Tree()->SelectedFolder(), QStringLiteral("/proc"));
}

TEST(FolderDialog, EnterChoosesAfterTheWriteTestEscCancels) {
    TempFolder tmp;
    {
        Dialog d(QStringLiteral("/proc"));
        QTest::keyClick(d.Tree(), Qt::Key_Return);
        EXPECT_EQ(d.Errors, QStringList{"Ошибка создания файла в каталоге \"/proc/\". Каталог не выбран."});
        EXPECT_TRUE(d.Form.isVisible());

        // Another folder after a failed one.
        ASSERT_TRUE(d.Tree()->SelectFolder(tmp.Path));
        QTest::keyClick(d.Tree(), Qt::Key_Return);
        EXPECT_EQ(d.Form.result(), QDialog::Accepted);
        EXPECT_EQ(d.Form.SelectedPath, tmp.Path + "/");
        EXPECT_EQ(QDir::currentPath(), tmp.Path);
        EXPECT_FALSE(QFileInfo::exists(tmp.Path + "/" + kTestFile));
    }
    for (const bool esc : {true, false}) {
        Dialog d(tmp.Path);
        d.Form.SelectedPath = "left over";
        if (esc) QTest::keyClick(d.Tree(), Qt::Key_Escape);
        else QTest::mouseClick(d.Form.Button2, Qt::LeftButton);
        EXPECT_EQ(d.Form.result(), QDialog::Rejected);
        EXPECT_FALSE(d.Form.isVisible());
        EXPECT_EQ(d.Form.SelectedPath, QString());
    }
}
