// The program's command line (after the toolkit has taken its own options):
//
//   skarvel [--port NAME | --image IMAGE] [--new-instance] [--] [FILE...]
//
// Plain data; safe on any thread.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

namespace skarvel {

struct TCommandLine {
    std::string Port;  // empty: the remembered port, else the default
    // A medium image file to work on instead of the port (absolute, UTF-8);
    // such a window is always a window of its own.
    std::string Image;
    bool NewInstance = false;
    bool Help = false;
    // Absolute paths, in the order given.
    QStringList Files;
};

// Reads args (without the program name). Relative files are made absolute
// against cwd, the folder the program was started in; nothing else is done
// to a path (".." stays, a link is not followed), and whether the file can
// be read is the window's to say, as for a drop. False, with the reason in
// error, for an unknown option or a missing value.
bool ParseCommandLine(const QStringList& args, const QString& cwd, TCommandLine& out, QString& error);

// The usage lines.
const char* UsageText();

}  // namespace skarvel
