// The test helpers that are the same on every platform.
#include "tests/sim_process.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace skarvel::test {

namespace {

// Paths are UTF-8 here; on Windows a plain narrow path would be taken in the
// ANSI code page.
std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

}  // namespace

// ---------------------------------------------------------------- files

TempDir::TempDir() {
    // The system's scratch folder: $TMPDIR or /tmp on Linux, the user's
    // temporary folder on Windows.
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device seed;
    std::mt19937 rng(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / ("skarvel-test-" + std::to_string(rng() % 1000000000u));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = Utf8Of(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder in " + Utf8Of(base));
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(PathOf(path_), ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(PathOf(path), std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<uint8_t> data(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!in) throw std::runtime_error("cannot read " + path);
    return data;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace skarvel::test
