// Prints the MIME type Qt's database (the one of KDE's file managers) gives
// each file named on the command line, one "TYPE" line each, from its name
// and contents as a file manager looks at them.
#include <QCoreApplication>
#include <QMimeDatabase>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QMimeDatabase db;
    for (const QString& file : QCoreApplication::arguments().mid(1))
        std::printf("%s\n", qPrintable(db.mimeTypeForFile(file).name()));
    return 0;
}
