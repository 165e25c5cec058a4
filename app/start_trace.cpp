#include "app/start_trace.h"

#include <QEvent>
#include <QWindow>
#include <cstdio>
#include <memory>

#include "core/sync.h"
#include "flashfs/fs_flash.h"
#include "ui/main_form.h"

namespace skarvel {

namespace {

bool Tracing() {
    static const bool on = qEnvironmentVariableIsSet("SKARVEL_START_TRACE");
    return on;
}

// Marks the window's first expose, then leaves.
class TExposeMark final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            StartMark("window");
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }
};

}  // namespace

void StartMark(const char* what) {
    if (!Tracing()) return;
    std::fprintf(stderr, "skarvel-start %s %llu\n", what, static_cast<unsigned long long>(SteadyMs()));
    std::fflush(stderr);
}

void TraceWindowStart(TForm1& form) {
    if (!Tracing()) return;
    form.winId();  // the window exists before it is shown
    if (QWindow* window = form.windowHandle()) window->installEventFilter(new TExposeMark(&form));
    auto marked = std::make_shared<int>(0);
    QObject::connect(&form, &TForm1::OperationDone, &form, [marked](int op, int result) {
        if (op == opInit && result == 0 && !(*marked & 1)) {
            *marked |= 1;
            StartMark("link");
        } else if (op == opReadDir && !(*marked & 2)) {
            *marked |= 2;
            StartMark("list");
        }
    });
}

}  // namespace skarvel
