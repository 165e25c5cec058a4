#include "tests/mem_medium.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "flashfs/fs_flash.h"

namespace skarvel::test {

TMemMedium::TMemMedium(uint32_t sectors) : sectors_(sectors), data_(static_cast<size_t>(sectors) * SectorBytes, 0) {}

void TMemMedium::Attach(TFlash& flash) {
    flash_ = &flash;
    flash.FExchange = [this](uint8_t cmd, uint8_t lo, uint8_t hi, void* buffer) {
        return Exchange(cmd, lo, hi, buffer);
    };
}

TTransportResult TMemMedium::Exchange(uint8_t cmd, uint8_t sectorLo, uint8_t sectorHi, void* buffer) {
    const uint16_t sector = static_cast<uint16_t>(sectorLo | (sectorHi << 8));
    if (OnExchange) OnExchange(cmd, sector);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back({cmd, sector});
        ++count_;
        if (cmd == cmdWriteSector) ++writes_;
        for (auto it = faults_.begin(); it != faults_.end(); ++it) {
            const bool hit = (it->Kind == 0 && it->Nth == count_) ||
                             (it->Kind == 1 && it->Cmd == cmd && it->Sector == sector) ||
                             (it->Kind == 3 && writes_ > it->Nth);
            if (!hit) continue;
            const auto r = static_cast<TTransportResult>(it->Result);
            if (it->Kind == 0) faults_.erase(it);
            return r;
        }
    }
    auto* buf = static_cast<uint8_t*>(buffer);
    switch (cmd) {
        case cmdIdentify:
            if (IdentifyResult == 0 && flash_ != nullptr) flash_->FMediumSize = MediumSize;
            return static_cast<TTransportResult>(IdentifyResult);
        case cmdReadSector: {
            if (sector >= sectors_) return xrNoAnswer;
            const bool raw = flash_ != nullptr && flash_->FBytesPerSector == 0;
            std::memcpy(buf, Sector(sector), SectorBytes);
            if (raw) std::memset(buf + SectorBytes, 0, 16);  // the answer's 528 payload bytes
            return xrOk;
        }
        case cmdWriteSector:
            if (sector >= sectors_) return xrNoAnswer;
            std::memcpy(Sector(sector), buf, SectorBytes);
            if (OnStored) OnStored(sector, Sector(sector));
            return xrOk;
        default:
            return xrOk;
    }
}

std::vector<TExchangeRecord> TMemMedium::Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

void TMemMedium::ClearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

std::vector<uint16_t> TMemMedium::WrittenSectors() const {
    std::vector<uint16_t> w;
    for (const TExchangeRecord& r : Log())
        if (r.Cmd == cmdWriteSector) w.push_back(r.Sector);
    return w;
}

void TMemMedium::FailNth(size_t n, uint8_t result) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({0, count_ + n, 0, 0, result});
}

void TMemMedium::FailSector(uint8_t cmd, uint16_t sector, uint8_t result) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({1, 0, cmd, sector, result});
}

void TMemMedium::CutAfterWrites(size_t writes) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back({3, writes_ + writes, 0, 0, xrNoAnswer});
}

void TMemMedium::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

void PutEntry(uint8_t* e, const char* name11, uint8_t attr, uint16_t cluster, uint32_t size) {
    std::memset(e, 0, 32);
    std::memcpy(e, name11, 11);
    e[11] = attr;
    PutU16(e, 26, cluster);
    PutU32(e, 28, size);
}

void PutEmptyFiles(uint8_t* e, int count) {
    for (int i = 0; i < count; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "E%-10d", i);
        PutEntry(e + i * 32, name, 0x20, 0, 0);
    }
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

}  // namespace skarvel::test
