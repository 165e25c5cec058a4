#include "ui/worker_reports.h"

#include <utility>

namespace skarvel {

bool TWorkerReports::Added() {
    if (handedOver_) return false;
    handedOver_ = true;
    return true;
}

bool TWorkerReports::Sector(TLamp lamp, uint8_t op) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.Sector = true;
    pending_.Lamp = lamp;
    pending_.Op = op;
    return Added();
}

bool TWorkerReports::Step(uint32_t job) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& p = pending_.Progress;
    if (!p.empty() && p.back().What == TProgressReport::Step && p.back().Job == job) {
        ++p.back().Count;
    } else {
        p.push_back({TProgressReport::Step, job, 1, {}});
    }
    return Added();
}

bool TWorkerReports::StartFile(uint32_t job, int total, const QString& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.Progress.push_back({TProgressReport::FileStart, job, total, text});
    return Added();
}

bool TWorkerReports::Finish(uint32_t job) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.Progress.push_back({TProgressReport::Finish, job, 0, {}});
    return Added();
}

TReportBatch TWorkerReports::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(pending_, TReportBatch{});
}

bool TWorkerReports::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending_.Empty()) return false;
    handedOver_ = false;
    return true;
}

}  // namespace skarvel
