// An in-memory medium that answers the worker's transport as the device
// would: identify, read sector, write sector. It records every exchange and
// can be told to fail some of them.
//
// Attach() makes it the transport of a TFlash. The worker's routines may
// then be called directly on the test thread, or the worker thread may run;
// the record and the fault settings are guarded by a mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "flashfs/transport.h"

namespace skarvel {
class TFlash;
}

namespace skarvel::test {

struct TExchangeRecord {
    uint8_t Cmd = 0;
    uint16_t Sector = 0;
    bool operator==(const TExchangeRecord&) const = default;
};

class TMemMedium {
public:
    static constexpr uint32_t SectorBytes = 512;

    explicit TMemMedium(uint32_t sectors = 4096);

    // Makes this medium the transport of flash (sets its FExchange). The
    // medium must outlive flash's use of it.
    void Attach(TFlash& flash);

    // The transport routine.
    TTransportResult Exchange(uint8_t cmd, uint8_t sectorLo, uint8_t sectorHi, void* buffer);

    // ---- contents
    uint8_t* Sector(uint32_t s) { return data_.data() + static_cast<size_t>(s) * SectorBytes; }
    const uint8_t* Sector(uint32_t s) const { return data_.data() + static_cast<size_t>(s) * SectorBytes; }
    std::vector<uint8_t>& Bytes() { return data_; }

    // ---- identify: the result, and the medium size set on success
    uint8_t IdentifyResult = 0;
    uint32_t MediumSize = 0x200000;

    // ---- record of exchanges, in order
    std::vector<TExchangeRecord> Log() const;
    void ClearLog();
    // The sectors written, in order.
    std::vector<uint16_t> WrittenSectors() const;

    // ---- faults
    // The n-th exchange from now (1 = the next one) returns result.
    void FailNth(size_t n, uint8_t result);
    // Every exchange of cmd on sector returns result.
    void FailSector(uint8_t cmd, uint16_t sector, uint8_t result);
    // A cable pulled after the next `writes` sector writes: from the write
    // after them on, every exchange goes unanswered and nothing is stored.
    void CutAfterWrites(size_t writes);
    void ClearFaults();

    // Called for every exchange before it is carried out (on the caller's
    // thread, outside the lock): tests set FAbort or change faults here.
    std::function<void(uint8_t cmd, uint16_t sector)> OnExchange;
    // Called with each sector a write has just stored (on the caller's
    // thread): tests change the stored bytes here, as a device that stores
    // a sector wrongly and answers that all is well.
    std::function<void(uint16_t sector, uint8_t* stored)> OnStored;

private:
    struct Fault {
        int Kind;  // 0 n-th exchange, 1 sector, 3 a cut after Nth writes
        size_t Nth;
        uint8_t Cmd;
        uint16_t Sector;
        uint8_t Result;
    };

    uint32_t sectors_;
    std::vector<uint8_t> data_;
    TFlash* flash_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<TExchangeRecord> log_;
    size_t count_ = 0;
    size_t writes_ = 0;
    std::vector<Fault> faults_;
};

// Writes a directory entry into the 32-byte slot e, as any system may.
void PutEntry(uint8_t* e, const char* name11, uint8_t attr, uint16_t cluster, uint32_t size);

// Puts count empty files E0, E1, ... into the slots from e on, as another
// system writes them (no cluster).
void PutEmptyFiles(uint8_t* e, int count);

// n bytes of a repeatable pseudo-random sequence.
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);

}  // namespace skarvel::test
