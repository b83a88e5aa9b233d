// SPI: a thin spidev wrapper that exchanges whole 5-byte datagrams with the motion controller.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"

class SPI {
public:
    static constexpr uint32_t kSpeedHz = 4000000;
    static constexpr int kDatagram = 5;
    // Descriptors beyond this no longer fit the size field of the request code.
    static constexpr int kMaxDatagrams = 511;

    explicit SPI(std::shared_ptr<platform::Platform> platform = platform::installed());
    virtual ~SPI();
    SPI(const SPI&) = delete;
    SPI& operator=(const SPI&) = delete;

    // Mode 3, 8 bits per word, 4 MHz; a failed set-up leaves the device open.
    bool open(const char* path);
    bool close();
    // Sends length/5 datagrams in one message, chip-select released between them.
    virtual bool transfer(const uint8_t* tx, uint8_t* rx, int length);

    bool isOpen() const { return device != nullptr; }

protected:
    int fd = -1;
    int verbosity = 3;

private:
    bool configure(const char* path, unsigned long request, void* value, const char* format, int shown);

    std::shared_ptr<platform::Platform> platform;
    std::unique_ptr<platform::DeviceFile> device;
};

// The request code of an SPI_IOC_MESSAGE carrying n transfer descriptors.
unsigned long spiMessageRequest(int n);
