// The file list: the model and its control in step, the replace prompt, the
// short names of PC files, drawing colours, mouse and key selection, and
// the window's tool bars and actions.
#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QTreeView>
#include <QTest>
#include <set>
#include <stdexcept>
#include <tuple>
#include <sys/stat.h>

#include "shell/data_object.h"
#include "tests/sim_process.h"
#include "tests/ui/ui_test_support.h"
#include "ui/my_list_box.h"
#include "ui/readable_color.h"
#include "ui/text_tool_bar.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

// A window whose port does not exist: no device, only the list.
struct Fixture : Window {
    Fixture() { boxes.Boxes.clear(); }  // the port error of the start-up
    std::set<int> Selected() {
        std::set<int> out;
        for (int i = 0; i < form->ListBox1->count(); ++i)
            if (form->ListBox1->item(i)->isSelected()) out.insert(i);
        return out;
    }
};

}  // namespace

TEST(FileList, ModelAndControlStayInStep) {
    try {
        TMyListBox bad(nullptr);
        ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Ошибка создания объекта MyListBox: ListBox должен быть создан заранее");
    }
    auto* control = new QListWidget;
    TMyListBox list(control);  // frees the control
    // (name, size, path, of the medium) of every row; the control shows the names.
    using TRow = std::tuple<QString, int, std::string, bool>;
    const auto rows = [&] {
        std::vector<TRow> out;
        for (int i = 0; i < list.Count(); ++i) {
            out.emplace_back(list.DisplayName(i), list.Sizes(i), list.Path(i), list.Flags(i));
            EXPECT_EQ(control->item(i)->text(), list.DisplayName(i));
        }
        EXPECT_EQ(control->count(), list.Count());
        return out;
    };
    // The medium's rows stay ahead of the PC files.
    EXPECT_EQ(list.AddEntry(QStringLiteral("A.TNC"), 10, "", true), 0);
    EXPECT_EQ(list.AddEntry(QStringLiteral("b.lst"), 20, "/pc/b.lst", false), 1);
    EXPECT_EQ(list.AddEntry(QStringLiteral("C.ISO"), 30, "", true), 1);
    EXPECT_EQ(list.AddEntry(QStringLiteral("d.lst"), 40, "/pc/d.lst", false), 3);
    EXPECT_EQ(list.AddEntry(QStringLiteral("E.TNC"), 50, "", true), 2);
    // A name already listed, letter case ignored, from the medium: the row
    // becomes the medium's, joins the medium's rows and keeps its size.
    EXPECT_EQ(list.AddEntry(QStringLiteral("B.LST"), 99, "", true), 3);
    ASSERT_EQ(rows().size(), 5u);
    EXPECT_EQ(rows()[3], TRow(list.DisplayName(3), 20, "", true));
    EXPECT_EQ(rows()[4], TRow("d.lst", 40, "/pc/d.lst", false));

    // Clear removes the medium's rows, consecutive ones included.
    list.Clear();
    EXPECT_EQ(rows(), std::vector<TRow>{TRow("d.lst", 40, "/pc/d.lst", false)});
    list.AddEntry(QStringLiteral("F.TNC"), 60, "", true);
    list.Delete(list.IndexOfName(QStringLiteral("d.lst")));
    EXPECT_THROW(list.Delete(5), std::out_of_range);
    EXPECT_EQ(rows(), std::vector<TRow>{TRow("F.TNC", 60, "", true)});
    list.AddEntry(QStringLiteral("g.lst"), 1, "/pc/g.lst", false);
    list.ClearAll();
    EXPECT_TRUE(rows().empty());
}

TEST(FileList, ReplacePromptAcrossBatches) {
    Fixture fx;
    const QString a = fx.PcFile("a.lst"), b = fx.PcFile("b.lst"), c = fx.PcFile("c.lst");
    fx.F().AddFiles({a, b});
    EXPECT_TRUE(fx.boxes.Boxes.empty());
    ASSERT_EQ(fx.Names(), (std::vector<QString>{"a.lst", "b.lst"}));

    // Same names again: the first clash asks, Yes to All answers the rest.
    fx.Folder("other");
    const QString a2 = fx.PcFile("other/a.lst", "123"), b2 = fx.PcFile("other/b.lst");
    fx.boxes.Answers = {mrYesToAll};
    fx.F().AddFiles({a2, b2, c});
    ASSERT_EQ(fx.boxes.Boxes.size(), 1u);
    EXPECT_EQ(fx.Texts()[0], QStringLiteral("Файл с именем a.lst уже существует. Заменить?"));
    EXPECT_EQ(fx.boxes.Boxes[0].Type, TMsgDlgType::Confirmation);
    EXPECT_EQ(fx.boxes.Boxes[0].Buttons, unsigned(mbYes | mbNo | mbNoToAll | mbYesToAll));
    const auto paths = [](const QStringList& files) {
        std::vector<std::string> out;
        for (const QString& f : files) out.push_back(f.toStdString());
        return out;
    };
    EXPECT_EQ(fx.Paths(), paths({a2, b2, c}));
    EXPECT_EQ(fx.List().Sizes(0), 3);

    // A new batch asks again; No leaves the row as it is.
    fx.boxes.Answers = {mrNo, mrNoToAll};
    fx.F().AddFiles({a, b, c});
    EXPECT_EQ(fx.boxes.Boxes.size(), 3u);  // a: No; b: No to All; c: not asked
    EXPECT_EQ(fx.Paths(), paths({a2, b2, c}));

    // Yes replaces just that one.
    fx.boxes.Answers = {mrYes, mrNo};
    fx.F().AddFiles({a, b});
    EXPECT_EQ(fx.Paths(), paths({a, b2, c}));
}

TEST(FileList, PcFilesAreListedUnderTheirShortNames) {
    Fixture fx;
    const QStringList files = {fx.PcFile("prog.iso", "12345"), fx.PcFile("деталь.iso"),
                               fx.PcFile("длинное имя программы.lst"), fx.PcFile("Program_Long_Name.tnc"),
                               fx.PcFile("Program_Long_Other.tnc")};
    fx.F().AddFiles(files);
    EXPECT_TRUE(fx.boxes.Boxes.empty());
    EXPECT_EQ(fx.Rows(), (std::vector<std::pair<QString, bool>>{{"prog.iso", false}, {"деталь.iso", false},
                                                                {"ДЛИННО~1.LST", false}, {"PROGRA~1.TNC", false},
                                                                {"PROGRA~2.TNC", false}}));
    EXPECT_EQ(fx.List().Sizes(0), 5);
    EXPECT_EQ(fx.List().Path(2), files[2].toStdString());
}

TEST(FileList, PathsThatAreNoReadableFilesAreNamedAndTheRestAdded) {
    Fixture fx;
    const QString first = fx.PcFile("first.lst");
    const QString readOnly = fx.PcFile("ro.lst");
    ASSERT_EQ(chmod(readOnly.toLocal8Bit().constData(), 0444), 0);
    const QString missing = QString::fromStdString(fx.dir.File("missing.lst"));
    const QString folder = QString::fromStdString(fx.dir.Path());
    const QString pipe = QString::fromStdString(fx.dir.File("pipe.lst"));
    ASSERT_EQ(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    const QString last = fx.PcFile("last.lst");
    fx.F().AddFiles({first, readOnly, missing, folder, pipe, last});
    // One box for the batch, a line for each path left out.
    ASSERT_EQ(fx.boxes.Boxes.size(), 1u);
    EXPECT_EQ(fx.boxes.Boxes[0].Type, TMsgDlgType::Error);
    const QStringList lines = fx.boxes.Boxes[0].Text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3) << fx.boxes.Boxes[0].Text.toStdString();
    const QString cannot = QStringLiteral("Не удалось открыть файл ");
    EXPECT_TRUE(lines[0].startsWith(cannot + missing + QStringLiteral(": "))) << lines[0].toStdString();
    EXPECT_EQ(lines[1], cannot + folder + QStringLiteral(": это каталог"));
    EXPECT_EQ(lines[2], cannot + pipe + QStringLiteral(": это не обычный файл"));
    // The others are added, a read-only one too.
    EXPECT_EQ(fx.Names(), (std::vector<QString>{"first.lst", "ro.lst", "last.lst"}));
}

TEST(FileList, RowColours) {
    Fixture fx;
    fx.List().AddEntry(QStringLiteral("MEDIUM.TNC"), 1, "", true);
    fx.F().AddFiles({fx.PcFile("pc.lst")});
    // Pending rows are grey, yet readable on their background, selected or
    // not, in the desktop's palette and in a dark one, and even where the
    // palette's grey is the background itself.
    const QPalette standard = fx.F().ListBox1->palette();
    QPalette dark = standard;
    dark.setColor(QPalette::Base, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x55, 0x55, 0x55));
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    dark.setColor(QPalette::HighlightedText, QColor(0xfc, 0xfc, 0xfc));
    QPalette vanishing = standard;
    vanishing.setColor(QPalette::Disabled, QPalette::Text, standard.color(QPalette::Base));
    for (const QPalette& pal : {standard, dark, vanishing}) {
        fx.F().ListBox1->setPalette(pal);
        EXPECT_EQ(fx.F().RowTextColor(0, false), pal.color(QPalette::Active, QPalette::Text));
        EXPECT_EQ(fx.F().RowTextColor(0, true), pal.color(QPalette::Active, QPalette::HighlightedText));
        for (const bool selected : {false, true}) {
            SCOPED_TRACE(selected ? "selected" : "not selected");
            const QColor text = fx.F().RowTextColor(1, selected), back = fx.F().RowBackground(selected);
            EXPECT_GE(ContrastRatio(text, back), 4.5) << text.name().toStdString() << " on " << back.name().toStdString();
            EXPECT_NE(text, fx.F().RowTextColor(0, selected));  // still set apart from the medium's rows
        }
    }
    fx.F().ListBox1->setPalette(standard);
    // The ratio itself: black on white is 21 : 1, a colour on itself 1 : 1.
    EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(QColor(0x76, 0x76, 0x76), Qt::white), 4.54, 0.01);
    EXPECT_NEAR(ContrastRatio(Qt::gray, Qt::gray), 1.0, 1e-9);

    // Rows are one text line high.
    fx.F().show();
    const QRect r0 = fx.F().ListBox1->visualItemRect(fx.F().ListBox1->item(0));
    EXPECT_EQ(r0.height(), QFontMetrics(fx.F().ListBox1->font()).height());
}

TEST(FileList, MouseAndKeySelection) {
    Fixture fx;
    for (int i = 0; i < 6; ++i) fx.List().AddEntry(QStringLiteral("F%1.TNC").arg(i), i, "", true);
    fx.F().show();
    QListWidget* lb = fx.F().ListBox1;
    auto at = [&](int row) { return lb->visualItemRect(lb->item(row)).center(); };
    QWidget* vp = lb->viewport();

    const struct {
        Qt::KeyboardModifiers Modifiers;
        int Row;  // -1: below the last row
        std::set<int> Selected;
    } clicks[] = {
        {Qt::NoModifier, 1, {1}},          {Qt::ShiftModifier, 3, {1, 2, 3}}, {Qt::ControlModifier, 5, {1, 2, 3, 5}},
        {Qt::ControlModifier, 2, {1, 3, 5}},
        {Qt::ShiftModifier, 0, {0, 1, 2}},  // Shift ranges run from the previous press, upwards too.
        {Qt::NoModifier, 4, {4}},          {Qt::NoModifier, -1, {}},
    };
    for (const auto& c : clicks) {
        QTest::mouseClick(vp, Qt::LeftButton, c.Modifiers, c.Row < 0 ? QPoint(5, vp->height() - 2) : at(c.Row));
        EXPECT_EQ(fx.Selected(), c.Selected) << &c - clicks;
    }
    QTest::keyClick(lb, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(fx.Selected(), (std::set<int>{0, 1, 2, 3, 4, 5}));
}

TEST(FileList, DragOutStartsAfterAMoveOfTwoPixels) {
    Fixture fx;
    TForm1& f = fx.F();
    f.AddFiles({fx.PcFile("f0.lst"), fx.PcFile("f1.lst"), fx.PcFile("f2.lst")});
    std::vector<QStringList> drags;
    f.ExecDragDrop = [&](TDataObject* data) {
        drags.push_back(data->Files);
        delete data;
        return Qt::CopyAction;
    };
    f.show();
    QWidget* vp = f.ListBox1->viewport();
    const auto at = [&](int row) { return f.ListBox1->visualItemRect(f.ListBox1->item(row)).center(); };
    const QString f1 = QString::fromStdString(fx.List().Path(1));

    // Through the list's own mouse events: a pixel sideways or down is the
    // jitter of a click; one more starts the drag of the pressed row.
    for (const QPoint oneMore : {QPoint(1, 0), QPoint(0, 1)}) {
        const QPoint jitter = oneMore.x() ? QPoint(0, 1) : QPoint(1, 0);
        const QPoint p = at(1);
        drags.clear();
        QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, p);
        QTest::mouseMove(vp, p + jitter);
        QTest::mouseMove(vp, p);
        EXPECT_TRUE(drags.empty());
        QTest::mouseMove(vp, p + jitter + oneMore);
        ASSERT_EQ(drags.size(), 1u);
        EXPECT_EQ(drags[0], QStringList{f1});
        // Once started, the press is spent: no second drag.
        QTest::mouseMove(vp, p + QPoint(9, 9));
        EXPECT_EQ(drags.size(), 1u);
        // The drag took the release; the next press starts afresh.
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, p + QPoint(9, 9));
    }
    // Moving without the button starts nothing.
    QTest::mouseMove(vp, at(0));
    QTest::mouseMove(vp, at(2));
    EXPECT_EQ(drags.size(), 1u);

    // A press on a row of a selection drags the whole selection; a click on
    // it without a move selects that row alone.
    f.ListBox1->selectAll();
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, at(1));
    QTest::mouseMove(vp, at(1) + QPoint(2, 0));
    ASSERT_EQ(drags.size(), 2u);
    EXPECT_EQ(drags[1].size(), 3);
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, at(1) + QPoint(2, 0));
    EXPECT_EQ(fx.Selected(), (std::set<int>{0, 1, 2}));
    QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, at(2));
    EXPECT_EQ(fx.Selected(), (std::set<int>{2}));
}

TEST(MainWindowLayout, ActionsMenusAndToolBars) {
    Fixture fx;
    TForm1& f = fx.F();
    struct Row {
        QAction* Action;
        const char* Caption;
        const char* Hint;
        QStringList Keys;
    };
    const Row rows[] = {
        {f.Open, "&Открыть", "Выбрать файлы для записи на флэш", {"F2", "Alt+O", "Ctrl+O"}},
        {f.MenuSave, "&Запись", "Запись новых файлов на флэш", {"F7", "Alt+S", "Ctrl+S"}},
        {f.Action4, "&Обновить", "Обновить", {"F5"}},
        {f.Action5, "Загрузка &данных", "Загрузка выбранных файлов с флэш", {"F6", "Ctrl+L", "Alt+L"}},
        {f.DelFileFlash, "&Удалить", "Удалить выбранные файлы", {"F8", "Del"}},
        {f.Action2, "Фо&рматирование", nullptr, {}},
        {f.Action7, "&Настройка порта", "Настроить порт", {"Ctrl+P"}},
        {f.Action8, "Открыть &порт", "Открыть порт", {}},
        {f.Action1, "&Выход", nullptr, {"Alt+F4"}},
        {f.AboutAc, "&О программе", "О программе", {"Ctrl+H", "Alt+H"}},
        {f.SaveImageAc, "Сохранить о&браз…", "Сохранить весь носитель в файл образа", {}},
        {f.RestoreImageAc, "&Восстановить из образа…", "Записать на носитель сохранённый образ", {}},
        {f.JournalAc, "&Журнал", "Журнал передач", {"Ctrl+J"}},
        {f.ViewAc, "&Просмотр", "Показать текст выбранного файла", {"F3"}},
        {f.CompareFolderAc, "&Сравнить с папкой…", "Сравнить файлы флэш с файлами папки на ПК", {}},
        {f.CompareAc, "Срав&нить", "Показать выбранный файл рядом с его копией на ПК", {}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.Action->text(), QString::fromUtf8(r.Caption));
        if (r.Hint) {
            EXPECT_EQ(r.Action->toolTip(), QString::fromUtf8(r.Hint));
        }
        QStringList keys;
        for (const QKeySequence& k : r.Action->shortcuts()) keys << k.toString(QKeySequence::PortableText);
        EXPECT_EQ(keys, r.Keys) << r.Caption;
    }
    // Busy disables the medium's commands, the image copies among them.
    EXPECT_EQ(f.ActionList1.size(), 10);
    EXPECT_TRUE(f.ActionList1.contains(f.SaveImageAc));
    EXPECT_TRUE(f.ActionList1.contains(f.RestoreImageAc));
    EXPECT_FALSE(f.ActionList1.contains(f.Open));
    EXPECT_FALSE(f.ActionList1.contains(f.AboutAc));
    EXPECT_FALSE(f.ActionList1.contains(f.JournalAc));
    // five commands, the two compares, the two images and the journal, with a separator between each group
    EXPECT_EQ(f.N2->actions().size(), 13);
    EXPECT_EQ(f.N2->actions().back(), f.JournalAc);
    EXPECT_EQ(f.N1->actions(), (QList<QAction*>{f.Open, f.ViewAc, f.Action1}));
    EXPECT_TRUE(f.N2->actions().contains(f.CompareFolderAc));
    EXPECT_TRUE(f.N2->actions().contains(f.CompareAc));

    QStringList captions;
    for (TTextButton* b : f.ToolBar2->Buttons()) captions << b->Caption();
    EXPECT_EQ(captions, (QStringList{"Открыть F2", "Обновить F5", "Загрузить F6", "Записать F7", "Удалить F8",
                                     "Выход Alt+F4"}));
    EXPECT_EQ(f.PopupMenu1->actions(), (QList<QAction*>{f.Open, f.Action4, f.MenuSave, f.Action5, f.DelFileFlash}));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Skarvel"));
}

TEST(MainWindowLayout, WidthsOfTheTextButtonsAndTheWindow) {
    Fixture fx;
    TForm1& f = fx.F();
    f.AddFiles({fx.PcFile("prog1.tnc"), fx.PcFile("деталь.lst")});
    f.show();
    for (int width : {562, 431, 800, 0}) {
        f.resize(width, 400);
        ProcessPending(20);
        const auto& buttons = f.ToolBar2->Buttons();
        const int w = buttons[0]->width();
        for (TTextButton* b : buttons) EXPECT_EQ(b->width(), w);
        const int used = 6 * w + 5 * TTextToolBar::DividerWidth;
        EXPECT_LE(used, f.ToolBar2->width());
        EXPECT_GT(used, f.ToolBar2->width() - 6);
        EXPECT_EQ(buttons.back()->geometry().right(), used - 1);
        // Down to the minimum width every caption fits its button whole, at
        // its full size ("Выход Alt+F4" is the widest).
        EXPECT_EQ(f.ToolBar2->width(), f.width());
        if (width == 0) {
            EXPECT_EQ(f.width(), f.minimumWidth());
        }
        for (TTextButton* b : buttons) {
            EXPECT_EQ(b->font().pointSizeF(), b->BaseFont().pointSizeF());
            EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->Caption()) + TTextButton::CaptionMargin, w)
                << width << " " << b->Caption().toStdString();
        }
        EXPECT_FALSE(f.ListBox1->horizontalScrollBar()->isVisible()) << width;
    }
    EXPECT_EQ(f.ToolBar2->Buttons()[0]->font().pointSizeF(), f.ToolBar2->Buttons()[0]->BaseFont().pointSizeF());
    // Never narrower than the two lamp panels together.
    const int panels = f.Panel3->width() + f.Panel4->width();
    EXPECT_GE(f.minimumWidth(), panels);
    f.resize(50, 300);
    ProcessPending(20);
    EXPECT_GE(f.width(), panels);
    EXPECT_GE(f.Panel3->geometry().left(), f.Panel4->geometry().right());
    EXPECT_GE(f.minimumHeight(), 255);
}

TEST(MainWindowLayout, OpenDialogShowsSizesTypesAndDatesWhole) {
    Fixture fx;
    for (const auto& [name, size] : {std::pair{"big.tnc", 1536000}, {"part.lst", 307200}, {"a.iso", 12}})
        fx.PcFile(name, std::string(size, 'G'));
    QFileDialog& d = *fx.F().OpenDialog1;
    d.setDirectory(QString::fromStdString(fx.dir.File("")));
    d.show();
    auto* view = d.findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(ProcessUntil([&] { return view->model()->rowCount(view->rootIndex()) == 3; }, 5000));
    ProcessPending(50);
    // The text of a cell is drawn inside the style's margins.
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QFontMetrics fm(view->font());
    bool sawKiB = false;
    for (int row = 0; row < 3; ++row)
        for (int column = 1; column < 4; ++column) {
            const QModelIndex cell = view->model()->index(row, column, view->rootIndex());
            const QString text = cell.data().toString();
            sawKiB = sawKiB || (text.startsWith(QStringLiteral("300")) && text.endsWith(QStringLiteral("KiB")));
            EXPECT_LE(fm.horizontalAdvance(text), view->visualRect(cell).width() - 2 * margin) << text.toStdString();
        }
    EXPECT_TRUE(sawKiB);
    // Every column in view, the name with room of its own.
    EXPECT_LE(view->header()->length(), view->viewport()->width());
    EXPECT_GE(view->header()->sectionSize(0), fm.horizontalAdvance(QStringLiteral("PROGRAM_NAME_01.TNC")));
    d.hide();
}

TEST(MainWindowLayout, OpenDialogFilterAndChosenFiles) {
    EXPECT_EQ(ToQtFilter(QStringLiteral("ISO программы (*.lst;*.tnc;*.iso)|*.lst;*.tnc;*.iso")),
              QStringLiteral("ISO программы (*.lst *.tnc *.iso)"));
    EXPECT_EQ(ToQtFilter(QStringLiteral("Text|*.txt|All (*.*)|*.*")), QStringLiteral("Text (*.txt);;All (*.*)"));

    Fixture fx;
    const QString chosen = fx.PcFile("x.lst");
    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    fx.F().ExecOpenDialog = [&](QFileDialog& d) {
        filters = d.nameFilters();
        mode = d.fileMode();
        return QStringList{chosen};
    };
    fx.F().Open->trigger();
    EXPECT_EQ(filters, QStringList{QStringLiteral("ISO программы (*.lst *.tnc *.iso)")});
    EXPECT_EQ(mode, QFileDialog::ExistingFiles);
    EXPECT_EQ(fx.Names(), (std::vector<QString>{"x.lst"}));
    // Cancelled: nothing.
    fx.F().ExecOpenDialog = [](QFileDialog&) { return QStringList(); };
    fx.F().Open->trigger();
    EXPECT_EQ(fx.List().Count(), 1);
}
