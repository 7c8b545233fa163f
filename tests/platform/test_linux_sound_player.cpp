#include "platform/linux/linux_sound_player.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "loopback_helpers.h"

namespace tarnwick {
namespace {

using TClock = std::chrono::steady_clock;

constexpr uint32_t kRate = 8000;

// Sets an environment variable while it lives. libcanberra reads
// CANBERRA_DRIVER when a context is made and ALSA reads ALSA_CONFIG_PATH when
// a device is opened (reloading its configuration when the path changed), so
// each test's player sees the environment the test sets up.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::string& value) : Name_(name) {
        if (const char* old = std::getenv(name)) Saved_ = old;
        setenv(name, value.c_str(), 1);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;
    ~TScopedEnv() {
        if (Saved_) {
            setenv(Name_, Saved_->c_str(), 1);
        } else {
            unsetenv(Name_);
        }
    }

private:
    const char* Name_;
    std::optional<std::string> Saved_;
};

void PutLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// A 16-bit mono PCM WAV of `samples`.
std::string Wav(const std::vector<int16_t>& samples) {
    const uint32_t dataSize = static_cast<uint32_t>(samples.size() * 2);
    std::string wav = "RIFF";
    PutLe(wav, 36 + dataSize, 4);
    wav += "WAVEfmt ";
    PutLe(wav, 16, 4);            // fmt chunk size
    PutLe(wav, 1, 2);             // PCM
    PutLe(wav, 1, 2);             // channels
    PutLe(wav, kRate, 4);         // frames per second
    PutLe(wav, kRate * 2, 4);     // bytes per second
    PutLe(wav, 2, 2);             // bytes per frame
    PutLe(wav, 16, 2);            // bits per sample
    wav += "data";
    PutLe(wav, dataSize, 4);
    for (const int16_t sample : samples) PutLe(wav, static_cast<uint16_t>(sample), 2);
    return wav;
}

// Samples that a swapped byte order, a lost or repeated stretch, or a
// conversion through another sample format would all change: an uneven walk
// over the whole 16-bit range.
std::vector<int16_t> Pattern(size_t count, uint32_t seed) {
    std::vector<int16_t> samples(count);
    uint32_t state = seed;
    for (int16_t& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = static_cast<int16_t>(state >> 16);
    }
    return samples;
}

std::vector<int16_t> ReadRawSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                          static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    }
    return samples;
}

// Waits until `path` holds at least `bytes` and has stopped growing.
void AwaitFile(const std::string& path, uintmax_t bytes) {
    const TClock::time_point deadline = TClock::now() + std::chrono::seconds(5);
    uintmax_t last = 0;
    while (TClock::now() < deadline) {
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(path, error);
        if (!error && size >= bytes && size == last) return;
        if (!error) last = size;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// An ALSA whose default device writes what it is given, unchanged, into a
// file: the file plugin in front of the null device, which accepts any rate
// and sample format, so nothing is converted on the way. Without truncation
// every opening of the device (one per sound) gets a file of its own:
// played.raw, then played.raw.0001, .0002, ... The configuration stands
// alone (the system's alsa.conf is not read), so no sound card or user file
// of this machine plays a part.
class TAlsaFileDevice {
public:
    explicit TAlsaFileDevice(const test::TTempDir& dir)
        : Output_(dir.Path() + "/played.raw"),
          ConfigPath_(dir.Path() + "/asound.conf"),
          Driver_("CANBERRA_DRIVER", "alsa"),
          Config_("ALSA_CONFIG_PATH", ConfigPath_) {
        std::ofstream(ConfigPath_) << "pcm.!default {\n"
                                      "  type file\n"
                                      "  slave.pcm { type null }\n"
                                      "  file \"" << Output_ << "\"\n"
                                      "  format \"raw\"\n"
                                      "  truncate false\n"
                                      "}\n";
    }

    // The file of the `n`th sound played (from 1).
    std::string OutputOfPlay(int n) const {
        if (n == 1) return Output_;
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%04d", n - 1);
        return Output_ + suffix;
    }

private:
    std::string Output_;
    std::string ConfigPath_;
    TScopedEnv Driver_;
    TScopedEnv Config_;
};

// The device may pad the end of a sound with silence up to a whole period,
// so the sound is what the played samples start with.
void ExpectPlayed(const std::vector<int16_t>& played, const std::vector<int16_t>& source) {
    ASSERT_GE(played.size(), source.size());
    EXPECT_TRUE(std::equal(source.begin(), source.end(), played.begin()));
}

// Whether a descriptor of this process is open on `path`.
bool OpenHere(const std::string& path) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path) return true;
    }
    return false;
}

TEST(LinuxSoundPlayer, PlaysTheFileItIsGiven) {
    const test::TTempDir dir;
    const TAlsaFileDevice device(dir);
    const std::vector<int16_t> source = Pattern(kRate * 3 / 10, 1);  // 300 ms
    dir.WriteFile("action.wav", Wav(source));

    TLinuxSoundPlayer player;
    player.Play(dir.Path() + "/action.wav");
    AwaitFile(device.OutputOfPlay(1), source.size() * 2);
    ExpectPlayed(ReadRawSamples(device.OutputOfPlay(1)), source);
}

TEST(LinuxSoundPlayer, SoundsThatCannotPlayAreIgnoredAndTheNextOneThatCanPlays) {
    const test::TTempDir dir;
    const std::vector<int16_t> source = Pattern(1600, 3);
    dir.WriteFile("action.wav", Wav(source));
    dir.WriteFile("not-a-wav.wav", "this is no sound");
    dir.WriteFile("no-devices.conf", "# no devices at all\n");

    TLinuxSoundPlayer player;
    {
        const TScopedEnv driver("CANBERRA_DRIVER", "no-such-driver");
        player.Play(dir.Path() + "/action.wav");
    }
    {
        const TScopedEnv driver("CANBERRA_DRIVER", "alsa");
        const TScopedEnv config("ALSA_CONFIG_PATH", dir.Path() + "/no-devices.conf");
        player.Play(dir.Path() + "/action.wav");
    }
    const TAlsaFileDevice device(dir);
    player.Play(dir.Path() + "/missing.wav");
    player.Play(dir.Path() + "/not-a-wav.wav");
    player.Play("");
    player.Play(dir.Path() + "/action.wav");
    AwaitFile(device.OutputOfPlay(1), source.size() * 2);
    ExpectPlayed(ReadRawSamples(device.OutputOfPlay(1)), source);
}

TEST(LinuxSoundPlayer, ANewSoundStopsTheOneStillPlaying) {
    // The null device takes samples as fast as they come, so a sound is
    // "still playing" only while its data is still coming: the first sound
    // is a named pipe, fed a little at first and more once the second sound
    // has played. A stopped sound reads no further.
    const test::TTempDir dir;
    const TAlsaFileDevice device(dir);
    const std::string fifo = dir.Path() + "/first.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Read-write, so that opening neither blocks nor lacks a reader; without
    // blocking, so that a stopped reader cannot make writing hang.
    TUniqueFd feed(open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(feed.IsValid());
    const std::vector<int16_t> firstSamples = Pattern(kRate * 5, 6);
    const std::string first = Wav(firstSamples);
    const size_t fedAtOnce = 44 + kRate;  // the header and half a second
    ASSERT_EQ(write(feed.Get(), first.data(), fedAtOnce), static_cast<ssize_t>(fedAtOnce));

    const std::vector<int16_t> second = Pattern(kRate / 5, 7);
    dir.WriteFile("second.wav", Wav(second));
    TLinuxSoundPlayer player;
    player.Play(fifo);
    player.Play(dir.Path() + "/second.wav");
    AwaitFile(device.OutputOfPlay(2), second.size() * 2);
    ExpectPlayed(ReadRawSamples(device.OutputOfPlay(2)), second);

    // As much more of the first sound as the pipe takes (most of the rest),
    // then end-of-file. Left playing, the first sound would go on reading
    // to the end of what it was given; stopped, it wakes to this, sees the
    // stop and closes the pipe.
    const ssize_t more = write(feed.Get(), first.data() + fedAtOnce, first.size() - fedAtOnce);
    ASSERT_GT(more, 0);
    feed.Reset();
    const TClock::time_point deadline = TClock::now() + std::chrono::seconds(5);
    while (OpenHere(fifo) && TClock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(OpenHere(fifo)) << "the first sound still reads its pipe";

    const std::vector<int16_t> firstPlayed = ReadRawSamples(device.OutputOfPlay(1));
    EXPECT_LT(firstPlayed.size() * 2, (fedAtOnce + static_cast<size_t>(more)) / 2);
    EXPECT_TRUE(std::equal(firstPlayed.begin(), firstPlayed.end(), firstSamples.begin()));
}

}  // namespace
}  // namespace tarnwick
