// The program's command line.
#include <QDir>

#include "app/command_line.h"

namespace skarvel {

namespace {

QString Absolute(const QString& cwd, const QString& path) {
    // ":name" is a file of that name here, not one of Qt's resources.
    if (path.startsWith(u':')) {
        QString base = QDir(cwd).absolutePath();
        if (!base.endsWith(u'/')) base += u'/';
        return base + path;
    }
    return QDir(cwd).absoluteFilePath(path);
}

}  // namespace

bool ParseCommandLine(const QStringList& args, const QString& cwd, TCommandLine& out, QString& error) {
    out = TCommandLine();
    bool options = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (options && a == QLatin1String("--")) {
            options = false;
        } else if (options && a == QLatin1String("--port")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
                error = QStringLiteral("--port needs a port name");
                return false;
            }
            out.Port = args[++i].toStdString();
        } else if (options && a.startsWith(QLatin1String("--port="))) {
            if (a.size() == 7) {
                error = QStringLiteral("--port needs a port name");
                return false;
            }
            out.Port = a.mid(7).toStdString();
        } else if (options && (a == QLatin1String("--image") || a.startsWith(QLatin1String("--image=")))) {
            const QString value = a.size() > 7 ? a.mid(8) : i + 1 < args.size() ? args[++i] : QString();
            if (value.isEmpty()) {
                error = QStringLiteral("--image needs an image file");
                return false;
            }
            out.Image = Absolute(cwd, value).toStdString();
        } else if (options && a == QLatin1String("--new-instance")) {
            out.NewInstance = true;
        } else if (options && (a == QLatin1String("--help") || a == QLatin1String("-h"))) {
            out.Help = true;
        } else if (options && a.startsWith(u'-') && a != QLatin1String("-")) {
            error = QStringLiteral("unknown option ") + a;
            return false;
        } else if (a.isEmpty() || a == QLatin1String("-")) {
            error = a.isEmpty() ? QStringLiteral("an empty file name") : QStringLiteral("- (standard input) cannot be opened");
            return false;
        } else {
            out.Files << Absolute(cwd, a);
        }
    }
    if (!out.Image.empty() && !out.Port.empty()) {
        error = QStringLiteral("--image and --port exclude each other");
        return false;
    }
    return true;
}

const char* UsageText() {
    return "usage: skarvel [--port NAME | --image IMAGE] [--new-instance] [--] [FILE...]\n"
           "  FILE...         programs to add as pending rows (to the window already running, if any)\n"
           "  --port NAME     the serial port for this run, not remembered (default: the port last\n"
           "                  chosen in the port dialog, else COM2, or the only USB adapter when\n"
           "                  COM2 is missing); an adapter's name under /dev/serial/by-id too\n"
           "  --image IMAGE   work on a medium image file instead of the device (a window of its own;\n"
           "                  a missing file becomes a blank medium to format)\n"
           "  --new-instance  open another window even when one is running (for a second port)\n"
           "  --help          this text\n";
}

}  // namespace skarvel
