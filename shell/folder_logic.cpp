#include "shell/folder_logic.h"

#include <QFile>
#include <QFileInfo>

namespace skarvel {

namespace {

bool IsDriveRoot(const QString& path) {
    return path.size() >= 3 && path[0].isLetter() && path[1] == QLatin1Char(':') && path[2] == QLatin1Char('/');
}

QString Join(const QString& dir, const QString& name) {
    return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

}  // namespace

TFolderPath SplitFolderPath(const QString& path) {
    TFolderPath out;
    QString rest;
    if (path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1String("//"))) {
        out.Root = QStringLiteral("/");
        rest = path.mid(1);
    } else if (IsDriveRoot(path)) {
        out.Root = path.left(3);
        rest = path.mid(3);
    } else {
        // A network path has no top-level node of its own in the tree.
        return out;
    }
    out.Searchable = true;
    out.Names = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return out;
}

TFolderLister FileSystemLister() {
    return [](const QString& dir) {
        QStringList out;
        if (dir.isEmpty()) {
            for (const QFileInfo& drive : QDir::drives()) out << drive.absoluteFilePath();
            return out;
        }
        return QDir(dir).entryList(kFolderFilter, QDir::Name);
    };
}

QString FindFolder(const QString& path, const TFolderLister& list) {
    const TFolderPath split = SplitFolderPath(path);
    if (!split.Searchable || !list(QString()).contains(split.Root)) return {};
    QString current = split.Root;
    for (const QString& name : split.Names) {
        if (!list(current).contains(name)) return {};
        current = Join(current, name);
    }
    return current;
}

bool PathTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString DefaultNewFolderName() { return QStringLiteral("Новый каталог"); }

QString NewFolderName(const QString& base, const std::function<bool(const QString& name)>& taken) {
    const QString b = base.isEmpty() ? DefaultNewFolderName() : base;
    for (qint64 n = 0;; ++n) {
        const QString name = n == 0 ? b : b + QLatin1Char('(') + QString::number(n) + QLatin1Char(')');
        if (!taken(name)) return name;
    }
}

QString NativeFolderPath(const QString& path, QChar separator) {
    QString out = path;
    out.replace(QLatin1Char('/'), separator);
    if (!out.endsWith(separator)) out += separator;
    return out;
}

TWriteTestOps RealWriteTestOps() {
    TWriteTestOps ops;
    // A dangling link of that name counts too: it would stop the creation.
    ops.Exists = PathTaken;
    ops.Remove = [](const QString& path) { return QFile::remove(path); };
    // NewOnly: the test never writes through a file or link that is already there.
    ops.CreateEmpty = [](const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return false;
        file.close();
        return file.error() == QFileDevice::NoError;
    };
    return ops;
}

TWriteTest RunWriteTest(const QString& testPath, const TWriteTestOps& ops) {
    if (ops.Exists(testPath)) ops.Remove(testPath);
    if (!ops.CreateEmpty(testPath)) {
        // A create that failed only at its close leaves the file behind.
        if (ops.Exists(testPath)) ops.Remove(testPath);
        return TWriteTest::CreateFailed;
    }
    if (!ops.Remove(testPath)) return TWriteTest::DeleteFailed;
    return TWriteTest::Passed;
}

TChoice ChooseFolder(const QString& folder, const QString& testFileName, const TWriteTestOps& ops) {
    TChoice choice;
    choice.SelectedPath = NativeFolderPath(folder);
    QDir::setCurrent(folder);
    switch (RunWriteTest(choice.SelectedPath + testFileName, ops)) {
        case TWriteTest::Passed: break;
        case TWriteTest::CreateFailed:
            choice.Error = QStringLiteral("Ошибка создания файла в каталоге ") + QLatin1Char('"') +
                           choice.SelectedPath + QLatin1Char('"') + QStringLiteral(". Каталог не выбран.");
            break;
        case TWriteTest::DeleteFailed:
            choice.Error = QStringLiteral("Ошибка выбора каталога ") + choice.SelectedPath;
            break;
    }
    return choice;
}

}  // namespace skarvel
