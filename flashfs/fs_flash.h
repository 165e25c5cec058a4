// The flash worker: the thread that owns the volume on the device's medium
// and carries out every file operation on it, one request at a time.
//
// The window (or a command-line client) posts WM_FLASH_REQUEST to the
// worker's queue; the worker runs the operation on its own thread and posts
// WM_FLASH_DONE to FWindow with the error code in byte 1 of wParam.
// Every sector moves through the transport FExchange, which the device
// driver fills in.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/sync.h"
#include "flashfs/fat_layout.h"
#include "flashfs/file_list.h"

namespace skarvel {

constexpr uint32_t WM_FLASH_REQUEST = MsgUser + 101;  // 0x465
constexpr uint32_t WM_FLASH_DONE = MsgUser + 102;     // 0x466

// Operation codes (low byte of a request's wParam).
enum : uint8_t {
    opInit = 0,
    opFormat = 1,
    opReadDir = 2,
    opDeleteFile = 3,
    opRenameFile = 4,
    opMakeDir = 5,
    opChangeDir = 6,
    opRemoveDir = 7,
    opSaveFile = 8,
    opLoadFile = 9,
    opGetFileAttr = 10,
};

// Error codes of the worker (ErrorTexts gives their texts).
constexpr uint8_t feOk = 0;
constexpr uint8_t feUnformatted = 1;  // no volume mounted, no valid boot sector, or a damaged volume structure
constexpr uint8_t feBadName = 2;
constexpr uint8_t feExists = 3;
constexpr uint8_t feFileEmpty = 4;
constexpr uint8_t feNotFound = 5;
constexpr uint8_t feNoRoom = 6;
constexpr uint8_t feDiskEmpty = 7;
constexpr uint8_t feUnknownDevice = 8;  // the device has not answered (identify or mount reads failed)
constexpr uint8_t feLinkError = 9;      // another device at identify; no answer or port closed elsewhere
constexpr uint8_t feNotReady = 10;      // the device stayed busy after a write
constexpr uint8_t feAborted = 11;
constexpr uint8_t feUnknownCommand = 12;

// Transport commands.
enum : uint8_t {
    cmdWriteSector = 0x29,
    cmdReadSector = 0x80,
    cmdIdentify = 0x9F,
};

// A sector run the worker refused to send because it would address a sector
// beyond 65535 or a cluster outside the volume; reported as a damaged volume.
constexpr uint8_t xrOutOfRange = 0xFF;

// Texts are code page 1251 bytes, as the system shows them.
extern const char* const OperationTexts[11];  // indexed by operation code
extern const char* const ErrorTexts[13];      // indexed by error code

// Argument block of operations 8, 9 and 10 (lParam points to it).
struct TFlashArgs {
    const char* Name = nullptr;  // zero-terminated, code page 1251
    void* Data = nullptr;        // 8: bytes to write; 9: destination
    uintptr_t Size = 0;          // 8: bytes to write; 9: capacity; 10: receives the size
};

// Transport: (command, sector low byte, sector high byte, buffer) -> result
// (0 success, 1 no answer, 3/4 device stayed busy, 5 port not open, 6 wrong device code).
using TExchangeFn = std::function<uint8_t(uint8_t cmd, uint8_t secLo, uint8_t secHi, void* buffer)>;
// Command hook: (operation, result byte, argument) -> error code of the request.
using TCommandFn = std::function<uint8_t(uint8_t op, uint8_t& result, void* param)>;

class TFlash : public TThread {
public:
    TFlash();
    ~TFlash() override;  // Stop()s the thread first

    // Posts a request to the worker's queue (what PostThreadMessage does).
    void PostRequest(uint8_t op, void* param) {
        FQueue.Post(WM_FLASH_REQUEST, op, reinterpret_cast<intptr_t>(param));
    }
    // Posts MsgQuit and waits for the loop to end. Safe to call twice and
    // before Resume. A class deriving from TFlash whose transport uses its own
    // members must call Stop() first thing in its destructor.
    void Stop();
    TMessageQueue& Queue() { return FQueue; }

    // Sectors a file occupies on the mounted volume, rounded up to whole
    // clusters (0 for size 0, and 0 while no geometry is set). Size 0 takes
    // the size from FFiles by name.
    uint32_t SectorsForFile(const char* name, uint32_t size);

    // The built-in dispatch of one request (what Execute runs when no hook
    // is assigned); a hook may call it for the operations it leaves alone.
    uint8_t Dispatch(uint8_t op, void* param);

    // Operation routines (worker thread). Each returns an error code.
    uint8_t InitFlash();
    uint8_t FormatFlash(uint8_t kind);
    uint8_t ReadDir(uint8_t kind, const char* mask);
    uint8_t DeleteFile(const char* name, uint8_t kind);
    uint8_t RenameFile();
    uint8_t MakeDir(const char* name, uint8_t kind);
    uint8_t ChangeDir();
    uint8_t RemoveDir();
    uint8_t SaveFile(const char* name, const void* data, uint8_t kind, uint32_t size);
    // On any result but 0 the destination holds no usable file.
    uint8_t LoadFile(const char* name, void* dest, uint8_t kind, uint32_t size);
    uint8_t GetFileAttr(const char* name, uint32_t& size, uint8_t kind);

    // The error code of a failed sector transfer: 10 for a device that stayed
    // busy (3, 4), 1 for a refused out-of-range run, 9 for everything else.
    static uint8_t LinkError(uint8_t transportResult);

    // ---- fields (public, as the window and the driver read and set them)
    TExchangeFn FExchange;
    TCommandFn OnCommand;
    std::atomic<bool> FAbort{false};
    uint8_t FMediumKind = 0;
    std::vector<uint8_t> FClusterBuf;
    std::vector<uint16_t> FFat;
    uint16_t FCurDir = 0;
    bool FBuffersReady = false;
    uint32_t FPendingEntry = 0;
    std::vector<uint8_t> FBootSector;  // 530 bytes
    std::atomic<uint32_t> FMediumSize{0};
    std::atomic<uint32_t> FBytesPerSector{0};
    uint8_t FSectorsPerCluster = 0;
    uint16_t FReservedSectors = 0;
    uint8_t FNumFATs = 0;
    uint16_t FRootEntries = 0;
    uint16_t FSectorsPerFAT = 0;
    uint32_t FTotalSectors = 0;
    uint16_t FClusterCount = 0;
    uint16_t FRootDirSectors = 0;
    uint16_t FFirstDataSector = 0;
    uint16_t FFirstRootSector = 0;
    uint16_t FLastCluster = 1;  // data clusters are 2..FLastCluster
    uint16_t FChainStart = 0, FChainNext = 0;
    uint16_t FDirCluster = 0, FDirNext = 0;
    std::atomic<uint8_t> FCommand{0};
    std::atomic<bool> FMounted{false};
    TMessageTarget* FWindow = nullptr;
    TFileList FFiles;

    // ---- directory and cluster routines (worker thread)
    // Transfers return 0 or the first nonzero transport result (xrOutOfRange
    // for a run that would pass sector 65535 or a cluster outside the volume).
    uint8_t ReadSectors(uint16_t first, uint16_t count, void* buffer);
    uint8_t WriteSectors(uint16_t first, uint16_t count, const void* buffer);
    uint8_t ReadCluster(uint16_t n);
    uint8_t WriteCluster(uint16_t n);
    // Successor of cluster n in the FAT image, or 0 (end of chain, free, or n
    // outside the image). The value may lie outside the data clusters.
    uint16_t NextCluster(uint16_t n) const;
    bool IsDataCluster(uint32_t n) const { return n >= 2 && n <= FLastCluster; }
    // Reads the next cluster of the chain from start into FClusterBuf (start 0
    // resets). True when one was read; false at the chain's end (error 0) or
    // on a failure (error = an error code).
    bool ReadChain(uint16_t start, uint8_t& error);
    // Reads the next block of directory dir (1 = root, 0 = reset) into
    // FClusterBuf; returns its first sector, or 0 at the end (error 0) or on a
    // failed read (error = an error code).
    uint16_t ReadDirBlock(uint16_t dir, uint8_t& error);
    // Looks a file up in the current directory. Returns 0 (found: cluster and
    // size set, the entry marked deleted and written back when remove),
    // 2 rejected name, 5 not found, or a transfer error.
    uint8_t FindEntry(const char* name, uint32_t& size, bool remove, uint16_t& cluster);
    // Creates the entry entryName (11 bytes + zero) with a first cluster and
    // makes it the pending entry. Returns 0 (cluster set), 3 an entry of this
    // name and type exists, 6 no room, or a transfer error.
    uint8_t CreateEntry(const char* entryName, bool directory, uint16_t& cluster);
    // Completes (size stored) or discards (marked deleted) the pending entry
    // and writes the FAT image. Returns 0 or a transfer error; the pending
    // entry is cleared on every path. entryWritten tells whether the
    // directory block reached the medium.
    uint8_t FinishEntry(uint16_t cluster, uint32_t size, bool discard, bool* entryWritten = nullptr);
    // Takes the lowest free data cluster and links it after previous (0 =
    // none); 0 when the volume is full.
    uint16_t AllocCluster(uint16_t previous);

protected:
    void Execute() override;

private:
    // A position in the current directory: the block held by FClusterBuf,
    // the slot in it and the slot's index in the directory.
    struct TDirPos {
        uint16_t Block = 0;
        uint32_t Slot = 0;
        uint32_t Index = 0;
        uint32_t Blocks = 0;  // blocks read by this scan
    };
    uint8_t StartScan(TDirPos& pos, bool& end);
    uint8_t NextSlot(TDirPos& pos, uint32_t capacity, bool& end);
    uint8_t* SlotAt(const TDirPos& pos) { return FClusterBuf.data() + pos.Slot * dirent::Size; }
    uint32_t SlotsPerBlock() const { return FSectorsPerCluster * (SectorSize / dirent::Size); }

    uint16_t FindFreeCluster() const;
    // First clusters named by the live entries of the directory, as the last
    // creation's scan saw them. A save cut off by a vanished device can leave
    // an entry whose cluster never reached the FAT on the medium; such a
    // cluster must not be handed to another file, or deleting the stale
    // entry later would free the other file's data.
    std::vector<bool> FNamedClusters;
    // Ends a creation that failed after CreateEntry: releases the clusters
    // taken from first on and discards the pending entry (the FAT is written).
    void DiscardEntry(uint16_t first);
    void ReleaseChain(uint16_t first);
    // Walks the chain from first over at most `walk` clusters. 0 when it
    // stays inside the volume without a loop and holds at least `needed`
    // clusters; 1 (a damaged volume) otherwise.
    uint8_t CheckChain(uint16_t first, uint32_t needed, uint32_t walk) const;
    uint8_t WriteFat();
    void SetGeometry(const TVolumeGeometry& g);
    // The identify exchange: 0, 9 (another device), or 8 (no usable answer).
    uint8_t Identify();
    // One exchange through FExchange; an absent transport counts as a closed
    // port, an exception escaping it as no answer.
    uint8_t CallExchange(uint8_t cmd, uint16_t sector, void* buffer);

    TMessageQueue FQueue;
    std::atomic<bool> FStopped{false};
};

}  // namespace skarvel
