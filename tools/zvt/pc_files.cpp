// What the platforms' PC file code shares: the texts for what is no file,
// and the whole-file read.
#include "tools/zvt/pc_files.h"

namespace skarvel {

namespace detail {

std::string NotAFileText(const std::string& path, TPcKind kind) {
    switch (kind) {
        case TPcKind::Folder: return path + ": это папка, а не файл";
        case TPcKind::Pipe: return path + ": это именованный канал, а не обычный файл";
        case TPcKind::Device: return path + ": это устройство, а не обычный файл";
        case TPcKind::Missing: return path + ": файл не найден";
        case TPcKind::Regular:
        case TPcKind::Other: break;
    }
    return path + ": не обычный файл";
}

std::string ChangedWhileReadText(const std::string& path) {
    return "Ошибка при чтения файла " + path + ": файл изменялся, пока его читали; запустите запись ещё раз";
}

}  // namespace detail

bool ReadPcFile(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
    switch (ReadPcFile(path, 0x7FFFFFFF, data, error)) {
        case TPcRead::Ok: return true;
        case TPcRead::TooBig: error = path + ": файл слишком велик"; return false;
        case TPcRead::Failed: break;
    }
    return false;
}

}  // namespace skarvel
