// The flash worker: the thread that owns the volume on the device's medium
// and carries out every file operation on it, one request at a time.
//
// The window (or a command-line client) posts WM_FLASH_REQUEST to the
// worker's queue; the worker runs the operation on its own thread and posts
// WM_FLASH_DONE to FWindow with the operation and its error code packed in
// wParam (PackFlashDone).
// Every sector moves through the transport FExchange, which the device
// driver fills in.
//
// Threads: everything below runs on the worker thread unless its comment
// says otherwise. The window asks for an abort (RequestAbort) while an
// operation runs and reads the geometry, the file list and the volume fault
// through the accessors after a completion.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/sync.h"
#include "flashfs/fat_layout.h"
#include "flashfs/file_list.h"
#include "flashfs/save_check.h"
#include "flashfs/transport.h"
#include "flashfs/volume_check.h"

namespace skarvel {

constexpr uint32_t WM_FLASH_REQUEST = MsgUser + 101;  // 0x465
constexpr uint32_t WM_FLASH_DONE = MsgUser + 102;     // 0x466

// What a completion carries in its wParam: the request's operation code in
// byte 0 and the result code in byte 1; the other bits are 0.
struct TFlashDone {
    uint8_t Op = 0;
    uint8_t Result = 0;
};
constexpr uintptr_t PackFlashDone(uint8_t op, uint8_t result) {
    return static_cast<uintptr_t>(op) | static_cast<uintptr_t>(result) << 8;
}
constexpr TFlashDone UnpackFlashDone(uintptr_t wParam) {
    return {static_cast<uint8_t>(wParam & 0xFF), static_cast<uint8_t>((wParam >> 8) & 0xFF)};
}

// Operation codes (low byte of a request's wParam).
enum TFlashOp : uint8_t {
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
constexpr size_t OperationCount = opGetFileAttr + 1;

// Error codes of the worker: the result of every operation and the byte
// the completion carries. 0..12 have the system's fixed texts; the window
// numbers its own failures on the PC side 12..15, so the codes added since
// start at 16. Code outside flashfs/ uses these names, never the numbers.
enum TFlashError : uint8_t {
    feOk = 0,
    feUnformatted = 1,  // no volume mounted, or no valid boot sector
    feBadName = 2,
    feExists = 3,
    feFileEmpty = 4,
    feNotFound = 5,
    feNoRoom = 6,
    feDiskEmpty = 7,
    // The device has not answered the connect: identify, or the mount's
    // reads of the boot sector and the FAT, failed (no answer, port closed,
    // busy), or a format found no medium size to work with.
    feNoAnswer = 8,
    // Code 9 has two meanings, told apart by the operation: identify was
    // answered with another device's code (feWrongDevice); any other
    // operation lost the link under a sector transfer, the device no longer
    // answering or the port closed (feLinkLost). The text is the same.
    feWrongDevice = 9,
    feLinkLost = feWrongDevice,
    feNotReady = 10,      // the device stayed busy after a write
    feAborted = 11,
    feUnknownCommand = 12,
    // The file's chain is not what its size needs (a free or looping
    // cluster, a link out of the data area, no cluster at all), or another
    // file answers its name too: it is neither loaded nor deleted.
    feDamagedFile = 16,
    // The medium holds a volume this system must not write: a 12-bit FAT,
    // more sectors than the device has, or an oversized FAT (TVolumeFault).
    feForeignVolume = 17,
    // The root directory has no free slot (it holds 512 entries) while
    // clusters are free.
    feRootFull = 18,
    // A replace found too few free clusters for the new copy beside the old
    // one; nothing was written.
    feNoRoomForCopy = 19,
    // An exception the worker did not expect ended the operation: a fault
    // of this program, not of the device (FInternalError says what).
    feInternalError = 20,
};

// Texts are code page 1251 bytes, as the system shows them.
extern const char* const OperationTexts[OperationCount];  // indexed by operation code
constexpr size_t ErrorTextCount = feUnknownCommand + 1;
extern const char* const ErrorTexts[ErrorTextCount];  // the fixed texts of codes 0..12
// The text of any worker error code; nullptr for a code the worker never
// returns (13..15 belong to the window, which has its own texts for them).
const char* WorkerErrorText(uint8_t code);

// Argument block of opSaveFile, opLoadFile and opGetFileAttr (lParam points to it).
struct TFlashArgs {
    const char* Name = nullptr;  // zero-terminated, code page 1251
    void* Data = nullptr;        // save: bytes to write; load: destination
    uintptr_t Size = 0;          // save: bytes to write; load: capacity; attributes: receives the size
};

// Command hook: (operation, result byte, argument) -> error code of the
// request, the byte the completion carries (the window's hook answers with
// codes of its own beside the worker's).
using TCommandFn = std::function<uint8_t(uint8_t op, uint8_t& result, void* param)>;

class TFlash : public TThread {
public:
    TFlash();
    ~TFlash() override;  // Stop()s the thread first

    // Posts a request to the worker's queue (what PostThreadMessage does).
    // Any thread.
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
    TFlashError Dispatch(uint8_t op, void* param);

    // Operation routines (worker thread). Each returns a TFlashError.
    TFlashError InitFlash();
    TFlashError FormatFlash(uint8_t kind);
    TFlashError ReadDir(uint8_t kind, const char* mask);
    // Checks the file's chain first: a damaged file (feDamagedFile) keeps its
    // entry. Never frees a cluster that another entry's chain reaches, and
    // marks the long-name pieces of the entry deleted with it.
    TFlashError DeleteFile(const char* name, uint8_t kind);
    TFlashError RenameFile();
    TFlashError MakeDir(const char* name, uint8_t kind);
    TFlashError ChangeDir();
    TFlashError RemoveDir();
    // The entry becomes a file only with the save's last write; a save cut
    // off before it leaves at most clusters taken in the FAT that no entry
    // names.
    TFlashError SaveFile(const char* name, const void* data, uint8_t kind, uint32_t size);
    // Writes data as the new contents of the existing file name, which keeps
    // its entry and its spelling on the medium. The old contents stay whole
    // until one sector write (the entry's) makes the new ones the file's: a
    // cut at any point leaves the old file or the new one, plus at most
    // clusters no entry reaches. Returns feNoRoomForCopy, having written
    // nothing, when the free clusters cannot hold the new copy beside the
    // old one; feNotFound when no file answers the name. FLastSave records
    // it as SaveFile's record does, for VerifySave.
    TFlashError ReplaceFile(const char* name, const void* data, uint8_t kind, uint32_t size);
    // On any result but 0 the destination holds no usable file. A file whose
    // chain is damaged, or shares a cluster with another entry's chain (one
    // of the two is wrong), is not loaded (feDamagedFile).
    TFlashError LoadFile(const char* name, void* dest, uint8_t kind, uint32_t size);
    // The same with out sized to the entry it loads: no directory read of its
    // own is needed to learn the size first. out is empty on any result but 0.
    TFlashError LoadFile(const char* name, std::vector<uint8_t>& out, uint8_t kind);
    TFlashError GetFileAttr(const char* name, uint32_t& size, uint8_t kind);
    // Reads back what the save recorded in save wrote: each FAT and
    // directory sector, compared with its bytes as written, and the file
    // itself, loaded and compared with data. check lists every difference
    // with the files it touches. Returns feOk when everything could be
    // read (check tells the outcome), else the error of the read that
    // failed.
    TFlashError VerifySave(const TSaveRecord& save, const void* data, uint32_t size, TSaveCheck& check);

    // Routines of the volume check (worker thread).
    // The mounted volume's boot sector and FAT image, and its root
    // directory read up to the block holding the end mark.
    TFlashError ReadVolumeTables(TVolumeTables& tables);
    // The FAT image as the bytes of its sectors.
    std::vector<uint8_t> FatBytes() const;
    // Data clusters of the mounted volume, and those of them the FAT image
    // calls free (both 0 while nothing is mounted). Any thread once the
    // worker is idle.
    uint32_t DataClusterCount() const;
    uint32_t FreeClusterCount() const;
    // Frees those of the clusters that are taken in the FAT image and writes
    // the FAT sectors that changed (nothing else): zvt check --repair's
    // release of lost clusters. freed: how many. Worker thread.
    TFlashError FreeClustersOnMedium(const std::vector<uint16_t>& clusters, uint32_t& freed);
    // Bytes a new file may take at most: the free clusters' bytes.
    uint64_t FreeBytes() const { return static_cast<uint64_t>(FreeClusterCount()) * FGeometry.ClusterBytes(); }

    // ---- what the window, the clients and the driver read of the worker
    // (any thread once the worker is idle, unless said otherwise)
    // The geometry of the last mount or format (all 0 before the first).
    TVolumeGeometry Geometry() const { return FGeometry; }
    uint32_t MediumSize() const { return FMediumSize.load(); }        // any thread
    uint32_t BytesPerSector() const { return FBytesPerSector.load(); }  // any thread
    bool Mounted() const { return FMounted.load(); }                   // any thread
    TVolumeFault VolumeFault() const { return FVolumeFault.load(); }
    uint8_t MediumKind() const { return FMediumKind; }
    // The boot sector as the last mount read it, or as the last format wrote it.
    const std::vector<uint8_t>& BootSector() const { return FBootSector; }
    // The files the last directory read listed.
    const TFileList& Files() const { return FFiles; }
    const TSaveRecord& LastSave() const { return FLastSave; }
    // The operation running or run last. Any thread.
    uint8_t CurrentOp() const { return FCommand.load(); }
    // Asks the running save or load to stop at its next cluster. Any thread.
    void RequestAbort() { FAbort = true; }

    // The error code of a failed sector transfer: feNotReady for a device
    // that stayed busy, feDamagedFile for a refused out-of-range run,
    // feLinkLost for everything else. ReadSectors and WriteSectors apply it,
    // so that every routine above them deals in worker errors only.
    static TFlashError LinkError(TTransportResult transportResult);

    // ---- fields (public, as the window and the driver read and set them)
    TExchangeFn FExchange;
    TCommandFn OnCommand;
    std::atomic<bool> FAbort{false};  // set by the window's thread, tested between clusters
    uint8_t FMediumKind = 0;
    std::vector<uint8_t> FClusterBuf;
    std::vector<uint16_t> FFat;  // the FAT image; the worker reads and writes entries through FatAt/SetFat
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
    // Why the last mount refused a volume that has a valid boot sector
    // (feForeignVolume); None after every other mount and after a format.
    std::atomic<TVolumeFault> FVolumeFault{TVolumeFault::None};
    TMessageTarget* FWindow = nullptr;
    TFileList FFiles;
    // What the last SaveFile wrote besides the file's clusters (VerifySave
    // reads it back). Read it between requests.
    TSaveRecord FLastSave;
    // What the exception behind the last feInternalError said (empty when
    // it said nothing). Read it between requests.
    std::string FInternalError;

    // ---- directory and cluster routines (worker thread)
    // Transfers return feOk or the worker error of the first failed
    // transport result (LinkError; a run that would pass sector 65535 or a
    // cluster outside the volume is refused as xrOutOfRange, feDamagedFile).
    TFlashError ReadSectors(uint16_t first, uint16_t count, void* buffer);
    TFlashError WriteSectors(uint16_t first, uint16_t count, const void* buffer);
    TFlashError ReadCluster(uint16_t n);
    TFlashError WriteCluster(uint16_t n);
    // Successor of cluster n in the FAT image, or 0 (end of chain, free, or n
    // outside the data clusters). The value may lie outside the data clusters.
    uint16_t NextCluster(uint16_t n) const;
    // Reads the next cluster of the chain from start into FClusterBuf (start 0
    // resets). True when one was read; false at the chain's end (error feOk)
    // or on a failure (error says which).
    bool ReadChain(uint16_t start, TFlashError& error);
    // Reads the next block of directory dir (1 = root, 0 = reset) into
    // FClusterBuf; returns its first sector, or 0 at the end (error feOk) or
    // on a failed read (error says which).
    uint16_t ReadDirBlock(uint16_t dir, TFlashError& error);
    // Looks a file up in the current directory (long-name pieces, labels and
    // directories are not files). Returns feOk (found: cluster and size set),
    // feBadName, feNotFound, feDamagedFile (a name two files answer), or a
    // transfer error.
    TFlashError FindEntry(const char* name, uint32_t& size, uint16_t& cluster);
    // Reserves a slot for the entry entryName (11 bytes + zero) with a first
    // cluster and makes it the pending entry. The slot is written as a
    // deleted entry naming the cluster: nothing loads from it until
    // FinishEntry. Returns feOk (cluster set), feExists (an entry of this
    // name and type exists), feNoRoom (no free cluster), feRootFull (no free
    // slot in the root), or a transfer error.
    TFlashError CreateEntry(const char* entryName, bool directory, uint16_t& cluster);
    // Commits the pending entry: writes the FAT image, then the entry's block
    // with its name, first cluster and size, the write that makes it live.
    // Returns feOk or a transfer error; the pending entry is cleared on every
    // path, and the chain from first is released in the image unless the
    // entry may have reached the medium.
    TFlashError FinishEntry(uint16_t first, uint32_t size);
    // Takes the lowest free data cluster and links it after previous (0 =
    // none); 0 when the volume is full.
    uint16_t AllocCluster(uint16_t previous);

protected:
    void Execute() override;

private:
    // The current directory as read block by block: the blocks' first
    // sectors, their bytes one after the other, and how far the walk got.
    struct TDirCopy {
        std::vector<uint16_t> Blocks;
        std::vector<uint8_t> Bytes;
        uint32_t Slots = 0;    // slots walked before the end mark (or the capacity)
        bool HasEnd = false;   // slot Slots is the end mark
        uint8_t* Slot(uint32_t i) { return Bytes.data() + static_cast<size_t>(i) * dirent::Size; }
    };
    // Reads the current directory up to the block holding its end mark, or
    // only up to the slot for which stop returns true.
    TFlashError ReadDirectory(TDirCopy& dir, const std::function<bool(const uint8_t* slot, uint32_t index)>& stop = {});
    // The slot the looked-up name means: the file shown under that name,
    // else the file whose entry name it is; -1 when none, AmbiguousName
    // when more than one file answers it so.
    static constexpr int64_t AmbiguousName = -2;
    static int64_t PickEntry(TDirCopy& dir, const TLookupName& key);
    TFlashError WriteDirBlock(TDirCopy& dir, uint32_t block);
    uint32_t SlotsPerBlock() const { return FSectorsPerCluster * (SectorSize / dirent::Size); }

    // The FAT image, entry by entry: data clusters only. FatAt answers
    // FatBad (taken, no successor) for any other number; SetFat ignores it.
    uint16_t FatAt(uint32_t n) const;
    void SetFat(uint32_t n, uint16_t value);
    bool IsDataCluster(uint32_t n) const { return FGeometry.IsDataCluster(n); }
    uint32_t ClusterBytes() const { return FGeometry.ClusterBytes(); }

    // Marks the clusters the chain from first reaches, its first cluster
    // included even when the FAT calls it free.
    void MarkReach(std::vector<bool>& reach, uint16_t first) const;
    // The clusters every live file and directory entry of dir reaches,
    // except the entry at index skip.
    std::vector<bool> ReachedClusters(TDirCopy& dir, int64_t skip) const;
    uint16_t FindFreeCluster() const;
    // Clusters the live entries reached at the last creation's scan. A
    // damaged volume (an older program's cut save, another system) can have
    // an entry naming a cluster the FAT calls free; handing that cluster to
    // a new file would make the old entry load the new file's bytes.
    std::vector<bool> FReachedClusters;
    // Ends a creation that failed before FinishEntry: the reserved slot
    // never became an entry and the FAT on the medium never learnt of the
    // chain, so only the image is set back.
    void DiscardEntry(uint16_t first);
    void ReleaseChain(uint16_t first);
    // feOk when the chain from first holds, cluster by cluster, what size needs:
    // each in use, none twice, within the data clusters, none that others
    // marks (when given), and the last one ending the chain or linking to a
    // data cluster; feDamagedFile otherwise.
    TFlashError CheckChain(uint16_t first, uint32_t size, const std::vector<bool>* others = nullptr) const;
    // Reads the directory (whole, or up to the file) and finds the file
    // name means in it (index -1: not found). A name two files answer alike
    // is feDamagedFile; only a whole read can tell.
    TFlashError LocateFile(const char* name, TDirCopy& dir, int64_t& index, bool whole);
    // SaveFile's work, while the sectors it writes are recorded.
    TFlashError SaveEntry(const char* name, const void* data, uint32_t size);
    // Runs a save or a replace while the sectors it writes are recorded in
    // FLastSave (for VerifySave).
    TFlashError RecordedSave(const char* name, uint32_t size, const std::function<TFlashError()>& save);
    // ReplaceFile's work, the same way.
    TFlashError ReplaceEntry(const char* name, const void* data, uint32_t size);
    // Writes size bytes of data into a new chain of free clusters, taken in
    // the image only (first, and every cluster in chain); on a failure the
    // image is set back and chain is empty.
    TFlashError WriteReplacementChain(const void* data, uint32_t size, uint16_t& first, std::vector<uint16_t>& chain);
    // The clusters of the chain from first that deleting its entry frees:
    // up to a cluster others marks, a bad-cluster mark or the end.
    std::vector<uint16_t> ReleasableChain(uint16_t first, const std::vector<bool>& others) const;
    // Writes the FAT sectors that hold the entries of clusters, from the
    // image, into every copy of the FAT; the last sector first when
    // descending. Returns feOk or the first failed transfer's error.
    TFlashError WriteFatSectors(const std::vector<uint16_t>& clusters, bool descending);
    // Loads the file name into the buffer that place gives for the size its
    // entry records (place's result: feOk, or why there is none).
    TFlashError LoadEntry(const char* name, const std::function<TFlashError(uint32_t stored, uint8_t*& out)>& place);
    // The image as a whole: read at mount, set up by format, written after
    // each change.
    void LoadFat(const std::vector<uint8_t>& bytes);
    void ResetFat();
    TFlashError WriteFat();
    void SetGeometry(const TVolumeGeometry& g);
    // A mount that refuses the volume for fault.
    TFlashError RefuseVolume(TVolumeFault fault);
    // What an operation answers while nothing is mounted.
    TFlashError NotMounted() const {
        return FVolumeFault.load() == TVolumeFault::None ? feUnformatted : feForeignVolume;
    }
    // The identify exchange: feOk, feWrongDevice, or feNoAnswer (no usable answer).
    TFlashError Identify();
    // One exchange through FExchange; an absent transport counts as a closed
    // port, an exception escaping it as no answer.
    TTransportResult CallExchange(uint8_t cmd, uint16_t sector, void* buffer);

    // The directory as written and, for each data cluster, the displayed
    // name of the live file whose chain (in the FAT image) holds it.
    std::vector<std::string> ClusterOwners(TDirCopy& dir) const;
    // Adds to fault what differs between the sector as expected and as
    // found (a directory's slot skip is left out; -1: none), with the files
    // it touches: owners names the file of each cluster, for a FAT sector.
    void CompareSector(uint16_t sector, const uint8_t* expected, const uint8_t* found, int skipSlot,
                       const std::vector<std::string>* owners, TSaveFault& fault) const;

    TVolumeGeometry FGeometry;
    bool FRecordSave = false;  // WriteSectors records FAT and directory sectors in FLastSave
    char FPendingName[12] = {};  // the pending entry's name and type
    bool FPendingDir = false;
    TMessageQueue FQueue;
    std::atomic<bool> FStopped{false};
};

}  // namespace skarvel
