// Wiring of the encoder-core model.
#include "sim/media/compress_models.h"

#include "sim/http/compress_routes.h"

namespace sim {

namespace {
RawWindow mapWindow(DeviceRoot& root, uint32_t physical, uint32_t size) {
    return {static_cast<uint8_t*>(root.memory().map(physical, size)), physical, size};
}
}  // namespace

CompressModels::CompressModels(const SimSettings& settings, DeviceRoot& root_, FpgaModel& fpga, StateApi& api,
                               std::shared_ptr<NdiStandIn> ndi, CaptureEngines& capture)
    : root(root_),
      // The cores read wherever the application's raw window lies: the video region, or the first 512 MiB.
      raw(settings.videoRegion ? mapWindow(root_, MemoryLayout::kVideoPhysical, MemoryLayout::kVideoSize)
                               : mapWindow(root_, 0, 0x20000000)),
      reserved(mapWindow(root_, MemoryLayout::kReservedPhysical, MemoryLayout::kReservedSize)),
      encoder(std::make_shared<EncoderCores>(fpga, settings.encoderCores, raw, reserved)) {
    fpga.attach(EncoderCores::kBlock, EncoderCores::kWords, encoder);
    addCompressRoutes(api, encoder, std::move(ndi), capture);
}

CompressModels::~CompressModels() {
    shutdown();
    root.memory().unmap(reserved.base, reserved.size);
    root.memory().unmap(raw.base, raw.size);
}

void CompressModels::shutdown() { encoder->shutdown(); }

}  // namespace sim
