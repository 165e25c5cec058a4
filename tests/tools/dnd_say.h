// The two drag and drop programs report every step as one line on standard
// output, flushed at once, for the check script to wait on.
#pragma once

#include <QString>
#include <Qt>
#include <cstdio>

namespace skarvel::dnd {

inline void Say(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

inline QString ActionName(Qt::DropAction action) {
    switch (action) {
        case Qt::CopyAction: return QStringLiteral("copy");
        case Qt::MoveAction: return QStringLiteral("move");
        case Qt::LinkAction: return QStringLiteral("link");
        default: return QStringLiteral("ignore");
    }
}

}  // namespace skarvel::dnd
