// What the progress window says besides its bars: which file of how many,
// the share done, the bytes moved, the rate and the time left. Counts are
// the bars' own, sector transfers of 512 bytes (directory and FAT sectors
// included, resends counted again), so the texts and the bars never
// disagree. The texts change at most every 200 ms of the clock given, so
// that a fast line does not make them flicker.
//
// Threads: GUI thread only (the progress window's).
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

namespace skarvel {

// Digits in groups of three, as "1 884 160".
QString GroupedNumber(uint64_t n);
// "байт", "байта" or "байт", the form Russian gives the word after n.
QString BytesWord(uint64_t n);

class TProgressInfo {
public:
    // Milliseconds of a monotonic clock.
    using TClock = std::function<int64_t()>;
    static constexpr int64_t ShowEveryMs = 200;
    // A rate is named once this much of the transfer has been seen.
    static constexpr int64_t RateAfterMs = 1000;

    explicit TProgressInfo(TClock clock);

    void Start(int totalTransfers, int fileCount);
    void FileStarted();
    void Stepped(int transfers);

    // True when the texts have changed and the last showing was at least
    // ShowEveryMs ago (or there was none): the caller shows them now.
    bool Due();

    // "Файл 2 из 5, 45 %"
    QString FileText() const;
    // "120 832 из 270 336 байт"
    QString BytesText() const;
    // "10,5 КБ/с, осталось 0:14"; empty until a rate can be told.
    QString RateText() const;

private:
    int64_t Elapsed() const { return clock_() - started_; }

    TClock clock_;
    int64_t started_ = 0;
    int64_t shown_ = -1;  // clock at the last showing; -1: none yet
    bool changed_ = false;
    int total_ = 0;
    int done_ = 0;
    int files_ = 0;
    int file_ = 0;
};

}  // namespace skarvel
