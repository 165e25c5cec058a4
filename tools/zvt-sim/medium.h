// The simulated device's medium: an image file written through sector by
// sector, or memory.
//
// Threads: the simulator has one thread; a TMedium belongs to the device
// that reads and writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skarvel::sim {

class TMedium {
public:
    TMedium() = default;
    ~TMedium();
    TMedium(const TMedium&) = delete;
    TMedium& operator=(const TMedium&) = delete;

    // Opens (or creates as 2 MiB of zeros) the image; false with error set
    // when it cannot be used.
    bool Open(const std::string& path, std::string& error);
    void OpenMemory(uint32_t bytes);

    uint32_t Sectors() const { return sectors_; }
    bool Read(uint32_t sector, uint8_t* out512, std::string& error);
    // Returns once the sector is in the file (a killed process loses nothing).
    bool Write(uint32_t sector, const uint8_t* in512, std::string& error);

private:
    int fd_ = -1;
    uint32_t sectors_ = 0;
    std::vector<uint8_t> memory_;
};

}  // namespace skarvel::sim
