// The worker side of the main window: the command hook that runs each of the
// window's requests on the flash worker's thread, with the per-file loops of
// delete, write and load, and what each sector frame reports.
//
// A request comes as a complete TTransferJob: every file with its name on
// the medium, its PC path, the size the list showed and what to do with it,
// and the folder a load writes into. So the loops never ask the window for
// anything. They report progress through the window's TWorkerReports, note
// each file's outcome in the job (the window reads it with the completion),
// and make the few row changes that must happen in step with the medium
// through TTransferRows, on the GUI thread while the worker waits.
//
// A job of reads (TFileAction::Read) goes as a load (opLoadFile) whose files
// end in memory: the window's viewer and compare take the medium's bytes so,
// and never through a PC file.
//
// Threads: Execute and Sector run on the worker thread, which owns the
// running job from the post until its completion is sent. CurrentFile,
// Geometry, FreeBytes and ListedFiles may be called on any thread (they copy under a
// lock). TTransferRows is called on the GUI thread only, through OnGui.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "flashfs/fat_layout.h"
#include "flashfs/file_list.h"
#include "flashfs/medium_image.h"
#include "flashfs/save_check.h"
#include "ui/lamps.h"
#include "ui/window_result.h"
#include "core/journal.h"
#include "ui/worker_reports.h"

namespace skarvel {

class TFlash;
class TJournal;

// The window's own requests beside the worker's operations (TFlashOp):
// the whole medium copied into an image file, and an image written back.
constexpr uint8_t opBackupMedium = 0x20;
constexpr uint8_t opRestoreMedium = 0x21;

// What the runner does with one file of a job.
enum class TFileAction : uint8_t {
    Delete,  // delete it on the medium
    Write,   // save the PC file PcPath on the medium
    Load,    // load it from the medium into the job's target folder
    Read,    // load it from the medium into Data (nothing is written on the PC)
};

// Where one file of a job stands.
enum class TFileState : uint8_t {
    Waiting,  // not reached: the job stopped before it
    Done,
    Failed,   // Result says why
    Skipped,  // a load found a file of its name in the folder, which it may not replace
};

struct TTransferFile {
    TFileAction Action = TFileAction::Load;
    // The name as the list shows it.
    QString Name;
    // The name on the medium (code page 1251); none when the shown name has
    // no spelling there, and then no file on the medium can be meant.
    std::optional<std::string> MediumName;
    // Write: the PC file whose bytes go to the medium; empty when the file
    // has no row with a PC file. A load writes TargetFolder + Name.
    QString PcPath;
    // Whether the list had a row of this name when the job was made, and the
    // size that row showed; the progress bars count with it.
    bool Listed = false;
    uint32_t ListedSize = 0;
    // Load: whether a file of the same name in the target folder may be
    // replaced (the user said so, or there was none when the load was asked
    // for). One that is there at the load when it may not is skipped.
    bool MayOverwrite = true;
    // Write: the file takes the place of the medium's file of its name,
    // which stays whole until the new one is written (TFlash::ReplaceFile).
    bool Replace = false;
    // With Replace: the size of the medium's file the row showed.
    uint32_t ReplacedSize = 0;
    // Write, with Replace: the medium has no room for both copies and the
    // user agreed to the old one being deleted before the new one is saved.
    bool DeleteFirst = false;

    // ---- outcome, set by the runner
    TFileState State = TFileState::Waiting;
    TWindowResult Result;  // why a failed file failed
    // Read: the file's bytes, as the entry the read found records them.
    std::vector<uint8_t> Data;
    // What the read-back after a write found, when it found a difference.
    QString Report;
};

// One request of the window to the worker. The GUI thread makes it; from
// the post until the completion arrives the worker alone writes to it (the
// files' outcomes), while the GUI thread only sets Cancel; after the
// completion it is the GUI thread's again.
struct TTransferJob {
    uint8_t Op = 0;
    uint32_t Id = 0;
    // The files of a delete, write or load, in the order they are done.
    std::vector<TTransferFile> Files;
    // Where a load writes its files; ends with a path separator.
    QString TargetFolder;
    // Write: each file is read back after its save and compared.
    bool Verify = false;
    // Set by the GUI thread when the user cancels; read by the worker
    // between files and at every sector.
    std::atomic<bool> Cancel{false};
    // The line the job runs on as the journal names it: the port, or
    // "образ " and the image file.
    std::string Line;

    // ---- a backup or a restore
    // The image file on the PC (UTF-8), and a restore's image bytes, read
    // and checked against the medium by the GUI thread before the post.
    std::string ImagePath;
    std::vector<uint8_t> Image;
    // How the copy ended, and why a backup's image could not be saved
    // (set by the runner).
    TMediumCopy Copy;
    std::string SaveError;

    // The names of the files that are not done, in job order.
    std::vector<QString> Undone() const;
    // How many files are in the state.
    int Count(TFileState state) const;
};

// The volume's geometry as the progress totals need it; 0 while unknown.
struct TTransferGeometry {
    TVolumeGeometry Volume;
    // Sectors the progress bars count for one file of `size` bytes: the
    // write frames of a save or a delete, the read frames of a load
    // (flashfs/frame_cost.h).
    uint32_t WriteTransfers(uint32_t size) const;
    uint32_t LoadTransfers(uint32_t size) const;
    uint32_t DeleteTransfers() const;
    // The read frames of the read-back after a save: the FAT and directory
    // sectors it wrote, then the file loaded.
    uint32_t VerifyTransfers(uint32_t size) const;
    // The same for a replace of a file, which writes the new chain's
    // clusters, the FAT sectors of the new chain and of the old one and the
    // entry's sector; and for its read-back.
    uint32_t ReplaceTransfers(uint32_t size) const;
    uint32_t VerifyReplaceTransfers(uint32_t size) const;
    // A file of the job, as its row showed it (0 for a file without a row).
    uint32_t FileTransfers(const TTransferJob& job, const TTransferFile& file) const;
    // The whole job, from the sizes its rows showed (files without a row
    // count nothing).
    uint32_t JobTransfers(const TTransferJob& job) const;
};

// Copies the PC file at path into folder under name, as a load writes its
// files: whole, through a temporary file. Returns feOk or the PC side's
// result; failed then names the file that could not be read or written. Any
// thread.
TWindowResult CopyPcFile(const QString& path, const QString& folder, const QString& name, QString& failed);

// What a read-back after a save found, in words: each difference with the
// files it touches.
QString SaveCheckText(const TSaveCheck& check);

// The list's rows as the loops change them. Called on the GUI thread only.
class TTransferRows {
public:
    virtual ~TTransferRows() = default;
    // The file's row goes: after its delete on the medium, whatever the
    // result (a re-read of the list shows a file that stayed).
    virtual void RemoveRow(const QString& name) = 0;
    // The file has been written: its row becomes the medium's with size
    // bytes, shown under the medium's spelling of the name (shown), and is
    // added as such if it has left the list meanwhile.
    virtual void MediumRow(const QString& name, const QString& shown, uint32_t size) = 0;
    // The medium's file that the row was to replace has been deleted (the
    // user agreed to it for want of room): the row is a plain pending one.
    virtual void OldCopyGone(const QString& name) = 0;
};

class TTransferRunner {
public:
    // flash is the worker whose routines the loops call; rows and reports
    // belong to the window. All three must outlive the runner's last call.
    TTransferRunner(TFlash& flash, TTransferRows& rows, TWorkerReports& reports);

    // Runs fn on the GUI thread and waits for it; false when the GUI thread
    // takes no more calls (fn then never runs, and the job stops as if
    // cancelled). Every row change goes through it, and so does anything
    // else that must ask the GUI thread in the middle of a job.
    std::function<bool(const std::function<void()>& fn)> OnGui;
    // Worker thread: the window's reports want taking (one call per hand-over
    // of TWorkerReports).
    std::function<void()> OnReports;
    // Where each file moved, each delete, format, backup and restore is
    // recorded (null: nowhere), and the text of a result code for it. Set
    // before the first request; both are called on the worker thread.
    TJournal* Journal = nullptr;
    std::function<std::string(uint8_t code)> ResultText;

    // Worker thread: runs request op with its job (null for none) and
    // returns the request's result.
    TWindowResult Execute(uint8_t op, TTransferJob* job);
    // Worker thread: a sector frame has been built, a read one (lampYellow)
    // or a write one (lampRed).
    void Sector(TLamp lamp);

    // Any thread. The file the worker is at: a medium name, or a PC path
    // while the PC side is read or written. Completion messages name it.
    QString CurrentFile() const;
    // Any thread. What the exception behind the last feInternalError said
    // (empty when it said nothing).
    QString InternalError() const;
    // Any thread. The geometry of the last mount or format.
    TTransferGeometry Geometry() const;
    // Any thread. The bytes free on the medium after the last request, or
    // none while no volume is mounted.
    std::optional<uint64_t> FreeBytes() const;
    // Any thread. The medium's files as the last list request read them
    // (copied on the worker thread, so that a later request cannot change
    // them under the completion handler).
    TFileList ListedFiles() const;

private:
    TWindowResult Dispatch(uint8_t op, TTransferJob* job);
    void KeepVolumeFacts(uint8_t op, TWindowResult result);
    TWindowResult RunFiles(TTransferJob& job);
    TWindowResult DeleteOne(TTransferJob& job, const TTransferFile& file);
    TWindowResult WriteOne(TTransferJob& job, TTransferFile& file);
    // Puts the bytes on the medium under the file's name: a save, or for a
    // replacement the replace (or the delete and save the user agreed to).
    TFlashError Store(TTransferJob& job, const TTransferFile& file, const std::vector<uint8_t>& data);
    TWindowResult LoadOne(TTransferJob& job, TTransferFile& file);
    // Reads the file just saved back and compares it; a copy that differs
    // is deleted from the medium (file.Report says what differed).
    TWindowResult VerifyOne(TTransferJob& job, TTransferFile& file, const std::vector<uint8_t>& data);
    TWindowResult Backup(TTransferJob& job);
    TWindowResult Restore(TTransferJob& job);
    void Record(const TJournalEntry& entry);
    std::string TextOf(TWindowResult result) const;
    TWindowResult ReadOne(TTransferJob& job, TTransferFile& file);
    // Changes the rows on the GUI thread; a GUI that takes no more calls
    // ends the job as a cancel would.
    void ChangeRows(TTransferJob& job, const std::function<void()>& change);
    void ReportFileStart(const TTransferJob& job, uint32_t total, const QString& text);
    void HandOver();
    void SetCurrentFile(const QString& name);
    void SetInternalError(const std::string& what);

    TFlash& FFlash;
    TTransferRows& FRows;
    TWorkerReports& FReports;

    // ---- worker thread
    const TTransferJob* FJob = nullptr;  // the request Execute runs
    bool FReadingBack = false;           // a write's read-back runs: its reads count

    // ---- shared, under FMutex
    mutable std::mutex FMutex;
    QString FCurrentFile;
    QString FInternalError;
    TFileList FListedFiles;
    TTransferGeometry FGeometry;
    std::optional<uint64_t> FFreeBytes;
};

}  // namespace skarvel
