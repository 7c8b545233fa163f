// libFuzzer target: the PE version reader on arbitrary bytes, as an image
// and as a version block, and every lookup TAppObj makes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/pe_version_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const tarnwick::TAppObj app(tarnwick::ReadPeVersionInfo(bytes));
    for (const auto& key : tarnwick::kVersionKeys) (void)app.GetValue(key.Key);
    if (const auto block = tarnwick::TVersionBlock::Parse(bytes)) {
        (void)block->Fixed();
        const tarnwick::TAppObj direct(block);
        (void)tarnwick::ProcessInfoValues(direct);
    }
    return 0;
}
