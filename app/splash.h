// The splash window shown while the main window is being created. It stays
// on screen Delay + 200 ms from its creation, longer only when the main
// window takes longer to make.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

class QSvgRenderer;

namespace skarvel {

// Milliseconds since midnight: ((h * 60 + m) * 60 + s) * 1000 + ms.
uint32_t TimeOfDayMs(int hours, int minutes, int seconds, int milliseconds);
// The same for the current local time.
uint32_t TimeOfDayMsNow();

class TfmSplash : public QWidget {
    Q_OBJECT
public:
    using TClock = std::function<uint32_t()>;
    using TSleep = std::function<void(unsigned ms)>;

    // Stores delay, then creates the window (FormCreate): it is shown and
    // painted at once and its start time taken. clock defaults to the time
    // of day, sleep to a wait that handles the window system's, the port's
    // and the worker's events but takes no input.
    TfmSplash(QWidget* owner, uint32_t delay, TClock clock = {}, TSleep sleep = {});
    ~TfmSplash() override;

    // Ends the splash: waits out the minimum time (FormHide), then hides the
    // window. The caller frees it afterwards.
    void Release();

    uint32_t StartTime = 0;
    uint32_t Delay = 0;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void FormCreate();
    void FormHide();
    // Paints the picture once the window system shows the window.
    void ShowPicture();

    TClock clock_;
    TSleep sleep_;
    QSvgRenderer* picture_;
};

}  // namespace skarvel
