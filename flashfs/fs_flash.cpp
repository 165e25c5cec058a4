// The worker object: construction, the request loop and the text tables.
#include "flashfs/fs_flash.h"

#include <algorithm>
#include <exception>

namespace skarvel {

// Status-line texts of the operations; several end with a blank after which
// the window appends the file name.
const char* const OperationTexts[OperationCount] = {
    "\xEF\xEE\xEF\xFB\xF2\xEA\xE0 \xE8\xED\xE8\xF6\xE8\xE0\xEB\xE8\xE7\xE0\xF6\xE8\xE8 \xF4\xEB\xFD\xF8",  // "попытка инициализации флэш"
    "\xF4\xEE\xF0\xEC\xE0\xF2\xE8\xF0\xEE\xE2\xE0\xED\xE8\xE5 ZVT",  // "форматирование ZVT"
    "\xF7\xF2\xE5\xED\xE8\xE5 \xF1\xEF\xE8\xF1\xEA\xE0 \xF4\xE0\xE9\xEB\xEE\xE2",  // "чтение списка файлов"
    "\xF3\xE4\xE0\xEB\xE5\xED\xE8\xE5 \xF4\xE0\xE9\xEB\xE0 ",  // "удаление файла "
    "\xEF\xE5\xF0\xE5\xE8\xEC\xE5\xED\xEE\xE2\xE0\xED\xE8\xE5 \xF4\xE0\xE9\xEB\xE0 ",  // "переименование файла "
    "\xF1\xEE\xE7\xE4\xE0\xED\xE8\xE5 \xEA\xE0\xF2\xE0\xEB\xEE\xE3\xE0 ",  // "создание каталога "
    "\xEF\xE5\xF0\xE5\xF5\xEE\xE4 \xE2 \xEA\xE0\xF2\xE0\xEB\xEE\xE3 ",  // "переход в каталог "
    "\xF3\xE4\xE0\xEB\xE5\xED\xE8\xE5 \xEA\xE0\xF2\xE0\xEB\xEE\xE3\xE0 ",  // "удаление каталога "
    "\xF1\xEE\xF5\xF0\xE0\xED\xE5\xED\xE8\xE5 \xF4\xE0\xE9\xEB\xE0 ",  // "сохранение файла "
    "\xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE0 \xF4\xE0\xE9\xEB\xE0 ",  // "загрузка файла "
    "\xF7\xF2\xE5\xED\xE8\xE5 \xE0\xF2\xF0\xE8\xE1\xF3\xF2\xEE\xE2 \xF4\xE0\xE9\xEB\xE0 ",  // "чтение атрибутов файла "
};

const char* const ErrorTexts[ErrorTextCount] = {
    "\xED\xE5\xF2 \xEE\xF8\xE8\xE1\xEA\xE8",  // "нет ошибки"
    "\xED\xE5\xF4\xEE\xF0\xEC\xE0\xF2\xE8\xF0\xEE\xE2\xE0\xED\xED\xFB\xE9 \xED\xEE\xF1\xE8\xF2\xE5\xEB\xFC",  // "неформатированный носитель"
    "\xEE\xF8\xE8\xE1\xEA\xE0 \xE2 \xE8\xEC\xE5\xED\xE8 \xF4\xE0\xE9\xEB\xE0",  // "ошибка в имени файла"
    "\xF4\xE0\xE9\xEB \xF1 \xFD\xF2\xE8\xEC \xE8\xEC\xE5\xED\xE5\xEC \xF3\xE6\xE5 \xF1\xF3\xF9\xE5\xF1\xF2\xE2\xF3\xE5\xF2",  // "файл с этим именем уже существует"
    "\xF4\xE0\xE9\xEB \xEF\xF3\xF1\xF2",  // "файл пуст"
    "\xF4\xE0\xE9\xEB \xED\xE5 \xED\xE0\xE9\xE4\xE5\xED",  // "файл не найден"
    "\xED\xE5\xE4\xEE\xF1\xF2\xE0\xF2\xEE\xF7\xED\xEE \xEC\xE5\xF1\xF2\xE0 \xED\xE0 \xF4\xEB\xFD\xF8",  // "недостаточно места на флэш"
    "\xE4\xE8\xF1\xEA \xEF\xF3\xF1\xF2",  // "диск пуст"
    "\xED\xE5\xE8\xE7\xE2\xE5\xF1\xED\xFB\xE9 \xEA\xEE\xE4 \xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xE0",  // "неизвесный код устройства"
    "\xEE\xF8\xE8\xE1\xEA\xE0 \xF1\xE2\xFF\xE7\xE8 \xF1 ZVT",  // "ошибка связи с ZVT"
    "\xEE\xF8\xE8\xE1\xEA\xE0 \xE3\xEE\xF2\xEE\xE2\xED\xEE\xF1\xF2\xE8 ZVT",  // "ошибка готовности ZVT"
    "\xEE\xEF\xE5\xF0\xE0\xF6\xE8\xFF \xEF\xF0\xE5\xF0\xE2\xE0\xED\xE0 \xEF\xEE\xEB\xFC\xE7\xEE\xE2\xE0\xF2\xE5\xEB\xE5\xEC",  // "операция прервана пользователем"
    "\xED\xE5\xE8\xE7\xE2\xE5\xF1\xED\xE0\xFF \xEA\xEE\xEC\xE0\xED\xE4\xE0",  // "неизвесная команда"
};

const char* WorkerErrorText(uint8_t code) {
    if (code < ErrorTextCount) return ErrorTexts[code];
    switch (code) {
        case feDamagedFile:
            return "\xF4\xE0\xE9\xEB \xED\xE0 \xF4\xEB\xFD\xF8 \xEF\xEE\xE2\xF0\xE5\xE6\xE4\xB8\xED";  // "файл на флэш повреждён"
        case feForeignVolume:
            // "носитель другого формата; форматирование сделает его пригодным (файлы на нём будут потеряны)"
            return "\xED\xEE\xF1\xE8\xF2\xE5\xEB\xFC \xE4\xF0\xF3\xE3\xEE\xE3\xEE \xF4\xEE\xF0\xEC\xE0\xF2\xE0; "
                   "\xF4\xEE\xF0\xEC\xE0\xF2\xE8\xF0\xEE\xE2\xE0\xED\xE8\xE5 \xF1\xE4\xE5\xEB\xE0\xE5\xF2 \xE5\xE3\xEE "
                   "\xEF\xF0\xE8\xE3\xEE\xE4\xED\xFB\xEC (\xF4\xE0\xE9\xEB\xFB \xED\xE0 \xED\xB8\xEC \xE1\xF3\xE4\xF3\xF2 "
                   "\xEF\xEE\xF2\xE5\xF0\xFF\xED\xFB)";
        case feRootFull:
            // "корневой каталог заполнен (512 записей); удалите ненужные файлы"
            return "\xEA\xEE\xF0\xED\xE5\xE2\xEE\xE9 \xEA\xE0\xF2\xE0\xEB\xEE\xE3 \xE7\xE0\xEF\xEE\xEB\xED\xE5\xED (512 \xE7\xE0\xEF\xE8\xF1\xE5\xE9); \xF3\xE4\xE0\xEB\xE8\xF2\xE5 \xED\xE5\xED\xF3\xE6\xED\xFB\xE5 \xF4\xE0\xE9\xEB\xFB";
        case feNoRoomForCopy:
            // "на флэш нет места для новой копии рядом со старой"
            return "\xED\xE0 \xF4\xEB\xFD\xF8 \xED\xE5\xF2 \xEC\xE5\xF1\xF2\xE0 \xE4\xEB\xFF \xED\xEE\xE2\xEE\xE9 "
                   "\xEA\xEE\xEF\xE8\xE8 \xF0\xFF\xE4\xEE\xEC \xF1\xEE \xF1\xF2\xE0\xF0\xEE\xE9";
        case feInternalError:
            // "внутренняя ошибка программы"
            return "\xE2\xED\xF3\xF2\xF0\xE5\xED\xED\xFF\xFF \xEE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB";
        default:
            return nullptr;
    }
}

namespace {

// What an exception in flight says, for the internal error's record.
std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

}  // namespace

TFlash::TFlash() : FBootSector(BootBufferSize, 0) {}

TFlash::~TFlash() { Stop(); }

void TFlash::Stop() {
    if (!Started()) {
        // Never resumed: make a later Resume end at once.
        Terminate();
        return;
    }
    if (!FStopped.exchange(true)) FQueue.Post(MsgQuit, 0, 0);
    WaitFor();
}

void TFlash::Execute() {
    while (!Terminated()) {
        const TMessage m = FQueue.Get();
        if (m.Msg == MsgQuit) {
            Terminate();
            break;
        }
        if (m.Msg != WM_FLASH_REQUEST) continue;
        const uint8_t op = static_cast<uint8_t>(m.WParam & 0xFF);
        FCommand = op;
        void* param = reinterpret_cast<void*>(m.LParam);
        uint8_t error;  // the completion's byte: the hook may answer with codes of its own
        try {
            if (OnCommand) {
                uint8_t result = 0;
                error = OnCommand(op, result, param);
            } else {
                error = Dispatch(op, param);
            }
        } catch (...) {
            // Nothing may end the worker silently: the window waits for the
            // completion of every request it posted. The volume code throws
            // nothing of its own, so whatever lands here is a fault of this
            // program and is reported as one.
            FInternalError = CurrentExceptionText();
            error = feInternalError;
        }
        if (FWindow != nullptr) FWindow->PostMsg(WM_FLASH_DONE, PackFlashDone(op, error), m.LParam);
    }
}

TFlashError TFlash::Dispatch(uint8_t op, void* param) {
    const uint8_t kind = FMediumKind;
    auto* args = static_cast<TFlashArgs*>(param);
    switch (op) {
        case opInit: return InitFlash();
        case opFormat: return FormatFlash(kind);
        case opReadDir: return ReadDir(kind, static_cast<const char*>(param));
        case opDeleteFile: return DeleteFile(static_cast<const char*>(param), kind);
        case opRenameFile: return RenameFile();
        case opMakeDir: return MakeDir(static_cast<const char*>(param), kind);
        case opChangeDir: return ChangeDir();
        case opRemoveDir: return RemoveDir();
        case opSaveFile:
            if (args == nullptr) return feBadName;
            if (args->Size > 0xFFFFFFFFu) return feNoRoom;
            return SaveFile(args->Name, args->Data, kind, static_cast<uint32_t>(args->Size));
        case opLoadFile:
            if (args == nullptr) return feBadName;
            return LoadFile(args->Name, args->Data, kind,
                            static_cast<uint32_t>(std::min<uintptr_t>(args->Size, 0xFFFFFFFFu)));
        case opGetFileAttr: {
            if (args == nullptr) return feBadName;
            uint32_t size = static_cast<uint32_t>(args->Size);
            const TFlashError r = GetFileAttr(args->Name, size, kind);
            args->Size = size;
            return r;
        }
        default: return feUnknownCommand;
    }
}

uint32_t TFlash::SectorsForFile(const char* name, uint32_t size) {
    const uint32_t clusterBytes = ClusterBytes();
    if (clusterBytes == 0) return 0;
    if (size == 0 && name != nullptr) {
        const int i = FFiles.IndexOf(name);
        if (i >= 0) size = static_cast<uint32_t>(FFiles.Sizes(i));
    }
    return FilledClusters(size, clusterBytes) * FSectorsPerCluster;
}

TFlashError TFlash::LinkError(TTransportResult r) {
    switch (r) {
        case xrOk: return feOk;
        case xrBusyTimeout:
        case xrStillBusy: return feNotReady;
        // Refused before it reached the line: only a damaged chain or entry
        // names a cluster outside the volume.
        case xrOutOfRange: return feDamagedFile;
        case xrInternalError: return feInternalError;
        default: return feLinkLost;
    }
}

TTransportResult TFlash::CallExchange(uint8_t cmd, uint16_t sector, void* buffer) {
    if (!FExchange) return xrPortClosed;
    try {
        return FExchange(cmd, static_cast<uint8_t>(sector & 0xFF), static_cast<uint8_t>(sector >> 8), buffer);
    } catch (...) {
        // The driver turns every line fault into a result; an exception
        // escaping it is a fault of this program.
        FInternalError = CurrentExceptionText();
        return xrInternalError;
    }
}

TFlashError TFlash::Identify() {
    const TTransportResult r = CallExchange(cmdIdentify, 0, nullptr);
    if (r == xrWrongDevice) return feWrongDevice;
    if (r == xrInternalError) return feInternalError;
    if (r != xrOk) return feNoAnswer;
    return feOk;
}

void TFlash::SetGeometry(const TVolumeGeometry& g) {
    FBytesPerSector = SectorSize;
    FSectorsPerCluster = g.SectorsPerCluster;
    FReservedSectors = g.ReservedSectors;
    FNumFATs = g.NumFATs;
    FRootEntries = g.RootEntries;
    FSectorsPerFAT = g.SectorsPerFAT;
    FTotalSectors = g.TotalSectors;
    FClusterCount = g.ClusterCount;
    FRootDirSectors = g.RootDirSectors;
    FFirstRootSector = g.FirstRootSector;
    FFirstDataSector = g.FirstDataSector;
    FLastCluster = g.LastCluster;
    FGeometry = g;
    FCurDir = 1;
    FPendingEntry = 0;
    FChainStart = FChainNext = 0;
    FDirCluster = FDirNext = 0;
    FReachedClusters.clear();
    FClusterBuf.assign(g.ClusterBytes(), 0);
    FFat.assign(g.FatEntries(), 0);
    FBuffersReady = true;
}

}  // namespace skarvel
