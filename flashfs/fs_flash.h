// The flash worker: the thread that owns the volume on the device's medium
// and carries out every file operation on it, one request at a time.
//
// The window (or a command-line client) posts WM_FLASH_REQUEST to the
// worker's queue; the worker runs the operation on its own thread and posts
// WM_FLASH_DONE to FWindow with the error code in byte 1 of wParam.
// Every sector moves through the transport FExchange, which the device
// driver fills in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/sync.h"
#include "flashfs/file_list.h"

namespace skarvel {

constexpr uint32_t WM_FLASH_REQUEST = WM_USER + 101;  // 0x465
constexpr uint32_t WM_FLASH_DONE = WM_USER + 102;     // 0x466

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

// Transport commands.
enum : uint8_t {
    cmdWriteSector = 0x29,
    cmdReadSector = 0x80,
    cmdIdentify = 0x9F,
};

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
    ~TFlash() override;  // posts WM_QUIT and joins if the thread still runs

    // Posts a request to the worker's queue (what PostThreadMessage does).
    void PostRequest(uint8_t op, void* param) {
        FQueue.Post(WM_FLASH_REQUEST, op, reinterpret_cast<intptr_t>(param));
    }
    // Posts WM_QUIT and waits for the loop to end. Safe to call twice.
    void Stop();
    TMessageQueue& Queue() { return FQueue; }

    // Sectors a file occupies on the mounted volume, rounded up to whole
    // clusters (0 for size 0). Size 0 takes the size from FFiles by name.
    uint32_t SectorsForFile(const char* name, uint32_t size);

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
    uint8_t LoadFile(const char* name, void* dest, uint8_t kind, uint32_t size);
    uint8_t GetFileAttr(const char* name, uint32_t& size, uint8_t kind);

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
    uint16_t FChainStart = 0, FChainNext = 0;
    uint16_t FDirCluster = 0, FDirNext = 0;
    std::atomic<uint8_t> FCommand{0};
    std::atomic<bool> FMounted{false};
    TMessageTarget* FWindow = nullptr;
    TFileList FFiles;

    // ---- directory and cluster routines (worker thread)
    uint8_t ReadSectors(uint16_t first, uint16_t count, void* buffer);
    uint8_t WriteSectors(uint16_t first, uint16_t count, const void* buffer);
    uint8_t ReadCluster(uint16_t n);
    uint8_t WriteCluster(uint16_t n);
    uint16_t NextCluster(uint16_t n) const;
    bool ReadChain(uint16_t start);
    uint16_t ReadDirBlock(uint16_t dir);
    uint16_t FindEntry(const char* name, uint32_t& size, bool remove);
    uint16_t CreateEntry(const char* entryName, bool directory);
    void FinishEntry(uint16_t cluster, uint32_t size, bool discard);
    uint16_t AllocCluster(uint16_t previous);

protected:
    void Execute() override;

private:
    TMessageQueue FQueue;
};

}  // namespace skarvel
