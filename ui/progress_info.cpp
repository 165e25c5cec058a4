#include "ui/progress_info.h"

#include <algorithm>

namespace skarvel {

namespace {

constexpr uint64_t TransferBytes = 512;

// 0:14, 12:05, 1:02:03
QString Duration(int64_t seconds) {
    const int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    const auto two = [](int64_t v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(two(m), two(s));
    return QStringLiteral("%1:%2").arg(m).arg(two(s));
}

}  // namespace

QString GroupedNumber(uint64_t n) {
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, QLatin1Char(' '));
    return digits;
}

QString BytesWord(uint64_t n) {
    const uint64_t tens = n % 100, units = n % 10;
    if (tens < 11 || tens > 14) {
        if (units >= 2 && units <= 4) return QStringLiteral("байта");
    }
    return QStringLiteral("байт");
}

TProgressInfo::TProgressInfo(TClock clock) : clock_(std::move(clock)) { started_ = clock_(); }

void TProgressInfo::Start(int totalTransfers, int fileCount) {
    started_ = clock_();
    total_ = std::max(totalTransfers, 0);
    files_ = std::max(fileCount, 0);
    done_ = 0;
    file_ = 0;
    changed_ = true;
}

void TProgressInfo::FileStarted() {
    ++file_;
    changed_ = true;
}

void TProgressInfo::Stepped(int transfers) {
    done_ += std::max(transfers, 0);
    changed_ = true;
}

bool TProgressInfo::Due() {
    const int64_t now = clock_();
    if (!changed_ || (shown_ >= 0 && now - shown_ < ShowEveryMs)) return false;
    shown_ = now;
    changed_ = false;
    return true;
}

QString TProgressInfo::FileText() const {
    // Resends may carry the count past the total: the share stays at 100.
    const int percent = total_ > 0 ? static_cast<int>(std::min<int64_t>(100, int64_t{done_} * 100 / total_)) : 0;
    QString text;
    if (files_ > 0) text = QStringLiteral("Файл %1 из %2, ").arg(std::clamp(file_, 1, files_)).arg(files_);
    return text + QStringLiteral("%1 %").arg(percent);
}

QString TProgressInfo::BytesText() const {
    const uint64_t total = uint64_t{static_cast<uint32_t>(total_)} * TransferBytes;
    const uint64_t done = std::min(total, uint64_t{static_cast<uint32_t>(done_)} * TransferBytes);
    return GroupedNumber(done) + QStringLiteral(" из ") + GroupedNumber(total) + QLatin1Char(' ') + BytesWord(total);
}

QString TProgressInfo::RateText() const {
    const int64_t elapsed = Elapsed();
    if (elapsed < RateAfterMs || done_ == 0) return QString();
    const double perSecond = static_cast<double>(done_) * TransferBytes * 1000.0 / static_cast<double>(elapsed);
    const int64_t left = std::max(0, total_ - done_);
    const auto seconds = static_cast<int64_t>(static_cast<double>(left) * TransferBytes / perSecond + 0.999);
    QString rate = QString::number(perSecond / 1024.0, 'f', 1);
    rate.replace(QLatin1Char('.'), QLatin1Char(','));
    return rate + QStringLiteral(" КБ/с, осталось ") + Duration(seconds);
}

}  // namespace skarvel
