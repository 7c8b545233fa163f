#include "platform/linux/linux_sound_player.h"

#include <canberra.h>
#include <dlfcn.h>
#include <link.h>

#include <string_view>

namespace tarnwick {

namespace {

// Every sound is played under this one id, so cancelling it stops whatever
// this player still has playing.
constexpr uint32_t kSoundId = 1;

// libcanberra unloads its driver module with the last context, while the
// thread that played the last sound may still be on its way out of the
// module's code, which then crashes. A driver kept loaded for the life of
// the process cannot be pulled from under it: every loaded libcanberra-*
// module is marked never to be unloaded.
int KeepDriverLoaded(dl_phdr_info* info, size_t, void*) {
    const std::string_view path = info->dlpi_name;
    const std::string_view file = path.substr(path.rfind('/') + 1);
    if (file.starts_with("libcanberra-")) dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    return 0;
}

}  // namespace

void TLinuxSoundPlayer::TContextDestroyer::operator()(ca_context* context) const { ca_context_destroy(context); }

TLinuxSoundPlayer::TLinuxSoundPlayer() = default;

TLinuxSoundPlayer::~TLinuxSoundPlayer() = default;

void TLinuxSoundPlayer::Play(const std::string& path) {
    std::lock_guard lock(Mutex_);
    if (!Context_) {
        ca_context* context = nullptr;
        if (ca_context_create(&context) != CA_SUCCESS || context == nullptr) return;
        Context_.reset(context);
        // Named for sound servers that show which program plays what.
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Tarnwick", nullptr);
        // Opening loads the driver (the one CANBERRA_DRIVER names, else the
        // first that works). Without one no sound can ever play through this
        // context; dropping it lets the next Play try again, say once a sound
        // server has started.
        if (ca_context_open(context) != CA_SUCCESS) {
            Context_.reset();
            return;
        }
        dl_iterate_phdr(KeepDriverLoaded, nullptr);
    }
    // Errors are ignored: a missing file or device is not reported, and
    // nothing of this call outlives it when playing fails.
    ca_context_cancel(Context_.get(), kSoundId);
    ca_context_play(Context_.get(), kSoundId, CA_PROP_MEDIA_FILENAME, path.c_str(),
                    // Rule actions name arbitrary files: no point keeping
                    // them in a sound server's sample cache.
                    CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
}

}  // namespace tarnwick
