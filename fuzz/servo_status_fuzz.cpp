// Arbitrary bytes as the servo's answers to the packet layer and the SMS/STS readers.
#include <cstddef>
#include <cstdint>

#include "base/log.h"
#include "motion/sms_sts.h"

namespace {
class ReplayingServo : public SMS_STS {
public:
    ReplayingServo(const uint8_t* data, size_t size) : data(data), size(size) {}
    int appendBytes(const uint8_t*, int n) override { return queued += n; }
    int appendByte(uint8_t) override { return ++queued; }
    void flushInput() override {}
    void flushOutput() override { queued = 0; }
    int readBytes(uint8_t* buf, int n) override {
        int got = 0;
        while (got < n && at < size) buf[got++] = data[at++];
        return got;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    int queued = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    debug_level = 0;
    ReplayingServo servo(data, size);
    const uint8_t n = size > 0 ? data[0] : 0;
    servo.ping(1);
    servo.ping(0xFE);
    servo.readFeedback(1);
    servo.readPosition(-1);
    servo.readLoad(-1);
    servo.readTarget(-1);
    servo.readCurrent(-1);
    servo.readMoving(-1);
    servo.readPosition(1);
    servo.readLoad(1);
    servo.readOffset(1);
    servo.readGoalPosition(1);
    servo.calibrateCenter(1);
    servo.WritePosEx(1, static_cast<int16_t>(n * 100 - 12800), 400, 50);
    uint8_t buffer[256];
    servo.readRegisters(1, n, buffer, n);
    servo.readWordChecked(1, 42);
    servo.readByteChecked(1, 66);
    return 0;
}
