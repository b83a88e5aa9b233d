#include "motion/ptz_presets.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "motion/eeprom_device.h"
#include "motion/stepper.h"

using namespace tmc5041;

namespace {
int32_t le32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}
void put32(uint8_t* p, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
int truncated(float value) {
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::clamp(value, -1.0e6f, 1.0e6f));
}

struct Fields {
    uint8_t kind, speed;
    int32_t tilt, pan;
    uint16_t zoom;
};
Fields fieldsOf(const PtzPresets::Record& r) {
    return {r[0], r[1], le32(&r[2]), le32(&r[6]), static_cast<uint16_t>(r[10] | r[11] << 8)};
}
}  // namespace

PtzPresets::PtzPresets(std::shared_ptr<eepromDevice> eeprom_) : eeprom(std::move(eeprom_)) {
    for (auto& r : presets) r[0] = kEmpty;  // zeros after the kind until loaded
}

void PtzPresets::attach(std::shared_ptr<Stepper> stepper_) { stepper = std::move(stepper_); }

uint8_t PtzPresets::presetSpeed(int index) const {
    if (!validIndex(index)) return 0;
    return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(presets[static_cast<size_t>(index)][1])).load();
}

void PtzPresets::setPresetSpeed(int index, uint8_t speed) {
    if (!validIndex(index)) return;
    std::atomic_ref<uint8_t>(presets[static_cast<size_t>(index)][1]).store(speed);
}

PtzPresets::Record PtzPresets::copy(int index) const {
    Record r = presets[static_cast<size_t>(index)];
    r[1] = presetSpeed(index);
    return r;
}

PtzPresets::Record PtzPresets::record(int index) const { return validIndex(index) ? copy(index) : Record{}; }

void PtzPresets::empty(Record& r) {
    r[0] = kEmpty;
    std::atomic_ref<uint8_t>(r[1]).store(kDefaultSpeed);
    std::fill(r.begin() + 2, r.end(), 0);
}

bool PtzPresets::presetLoad() {
    if (!eeprom->open(eepromDevice::kPath)) {
        logAt(2, "Error opening device %s\n", eepromDevice::kPath);
        return false;
    }
    uint8_t magic = 0;
    int count = eeprom->read(kMagicOffset, &magic, 1);
    if (count != 1) {
        logAt(2, "Cannot read eeprom!\n");
        return false;
    }
    if (magic == kMagic) {
        uint8_t area[kAreaBytes];
        count = eeprom->read(0, area, sizeof area);
        if (count != kAreaBytes) {
            logAt(2, "Cannot read eeprom\n");
            return false;
        }
        for (int i = 0; i < kCount; ++i)
            std::memcpy(presets[static_cast<size_t>(i)].data(), area + i * kRecordBytes, kRecordBytes);
        magic_byte = magic;
    } else if (!presetInit()) {
        return false;
    } else {
        count = 1;  // the last read was the magic byte
    }
    for (int i = 0; i < kCount; ++i) {
        const Fields f = fieldsOf(presets[static_cast<size_t>(i)]);
        logAt(5, "Preset[%3d] : %2d, %2d, %8X, %8X, %d\n", i, f.kind, f.speed, static_cast<unsigned>(f.tilt),
              static_cast<unsigned>(f.pan), f.zoom);
    }
    logAt(4, "preset read ok %d Byte\n", count);
    return true;
}

bool PtzPresets::presetInit() {
    uint8_t area[kAreaBytes] = {};
    for (int i = 0; i < kCount; ++i) area[i * kRecordBytes] = kEmpty;
    if (eeprom->write(0, area, sizeof area) != kAreaBytes) {
        logAt(2, "Cannot write eeprom\n");
        return false;
    }
    const uint8_t magic = kMagic;
    if (eeprom->write(kMagicOffset, &magic, 1) != 1) {
        logAt(2, "Cannot write eeprom\n");
        return false;
    }
    magic_byte = kMagic;
    logAt(4, "eeprom initialize ok.\n");
    for (auto& r : presets) empty(r);
    return true;
}

bool PtzPresets::writeRecord(int index) {
    const Record r = copy(index);
    return eeprom->write(static_cast<long>(index) * kRecordBytes, r.data(), kRecordBytes) == kRecordBytes;
}

int PtzPresets::PreSave(int index, int clear_only) {
    if (!validIndex(index)) return 0;
    logAt(5, "preSet index %d\n", index);
    Record& r = presets[static_cast<size_t>(index)];
    if (clear_only != 0) {
        empty(r);
        return 0;
    }
    const int32_t last = stepper->last_cmd.load();
    r[0] = static_cast<uint8_t>(last == 255 ? 9 : last);
    uint32_t tilt = 0, pan = 0;
    stepper->readRegister(reg(Stepper::kTilt, XACTUAL), tilt);
    stepper->readRegister(reg(Stepper::kPan, XACTUAL), pan);
    put32(&r[2], static_cast<int32_t>(tilt));
    put32(&r[6], static_cast<int32_t>(pan));
    const int zoom = stepper->zoom().storedZoomPosition();
    r[10] = static_cast<uint8_t>(zoom & 0xFF);
    r[11] = static_cast<uint8_t>((zoom >> 8) & 0xFF);
    const Fields f = fieldsOf(copy(index));
    logAt(5, "PreSave -> pan: 0x%X, tilt: 0x%X, speed %d, zoom %d, LastCmd 0x%X\n", static_cast<unsigned>(f.pan),
          static_cast<unsigned>(f.tilt), f.speed, f.zoom, static_cast<unsigned>(last));
    if (!writeRecord(index)) {
        logAt(2, "Cannot write eeprom\n");
        return 0;
    }
    logAt(5, "Preset[%d] : %d, %d, %X, %X, %d\n", index, f.kind, f.speed, static_cast<unsigned>(f.pan),
          static_cast<unsigned>(f.tilt), f.zoom);
    logAt(5, "write ok.\n");
    return 1;
}

bool PtzPresets::presetClear(int index) {
    if (!validIndex(index)) return false;
    empty(presets[static_cast<size_t>(index)]);
    if (!writeRecord(index)) {
        logAt(2, "Cannot write eeprom\n");
        return false;
    }
    return true;
}

int PtzPresets::recallSpeedIndex(int direct, float speed) {
    if (direct != 0) return std::clamp(truncated(speed), 1, 24);
    const int t = truncated(speed * 24.0f);
    if (t == 0 || t < -24 || t > 24) return 24;
    return std::max(std::abs(t), 1);
}

int PtzPresets::zoomSpeedIndex(int speedIndex) { return std::max(speedIndex / 3 - 1, 0); }

int PtzPresets::PreReCall(int index, int direct, float speed) {
    if (!validIndex(index)) return -1;
    if (stepper->limit_state.load() != 1) {
        logAt(2, "FAILED: The limit area is not checked.\n");
        return -1;
    }
    const Fields f = fieldsOf(copy(index));
    if (f.kind == kEmpty) {
        logAt(5, "FAILED: PRESET Index [%d] EMPTY\n", index);
        return -1;
    }
    ZoomServo& zoom = stepper->zoom();
    const bool servo = zoom.calibrated();
    const bool panTiltInside = f.pan >= stepper->pan_left.load() && f.pan <= stepper->pan_right.load() &&
                               f.tilt >= stepper->tilt_down.load() && f.tilt <= stepper->tilt_up.load();
    const bool zoomInside = !servo || (f.zoom >= zoom.zoom_min.load() && f.zoom <= zoom.zoom_max.load());
    if (!panTiltInside || !zoomInside) {
        if (servo)
            logAt(2, "FAILED: Preset destination is out of limit area (zoom %d)\n", f.zoom);
        else
            logAt(2, "FAILED: Preset destination is out of limit area\n");
        return -1;
    }
    const int speedIndex = recallSpeedIndex(direct, speed);
    uint32_t tiltNow = 0, panNow = 0;
    stepper->readRegister(reg(Stepper::kTilt, XACTUAL), tiltNow);
    stepper->readRegister(reg(Stepper::kPan, XACTUAL), panNow);
    const float dt = static_cast<float>(std::llabs(static_cast<long long>(f.tilt) - static_cast<int32_t>(tiltNow)));
    const float dp = static_cast<float>(std::llabs(static_cast<long long>(f.pan) - static_cast<int32_t>(panNow)));
    const float v = static_cast<float>(stepper->speedFromIndex(Stepper::kTilt, speedIndex));
    // The longer travel runs at v, the other proportionally slower, so both arrive together.
    if (dt >= dp) {
        const float ratio = dp == 0 ? 1.0f : dt / dp;
        stepper->moveAbsolute(Stepper::kPan, f.pan, static_cast<uint32_t>(v / ratio));
        stepper->moveAbsolute(Stepper::kTilt, f.tilt, static_cast<uint32_t>(v));
    } else {
        const float ratio = dt == 0 ? 1.0f : dp / dt;
        stepper->moveAbsolute(Stepper::kTilt, f.tilt, static_cast<uint32_t>(v / ratio));
        stepper->moveAbsolute(Stepper::kPan, f.pan, static_cast<uint32_t>(v));
    }
    if (servo && zoom.moveTo(f.zoom, zoomSpeedIndex(speedIndex)))
        logAt(5, "Zoom-Servo PreRecall Pos = %d, Limit-Width %d\n", f.zoom, zoom.zoom_width.load());
    logAt(5, "PreReCall[%d] -> pan: 0x%X, tilt: 0x%X\n", index, static_cast<unsigned>(f.pan),
          static_cast<unsigned>(f.tilt));
    return 0;
}
