// Process-wide pieces the device classes share: FFmpeg's device registry, SDL's audio
// subsystem, and the switches for the synthetic test devices.
#pragma once

#include <mutex>
#include <string>

namespace velmedia_internal {

// Environment variables that add the synthetic devices (normally "1"; unset, empty or "0" is
// off) and the WAV file the synthetic microphone plays instead of its tone.
constexpr const char* fake_camera_env = "TAV_FAKE_CAMERA";
constexpr const char* fake_microphone_env = "TAV_FAKE_MICROPHONE";
constexpr const char* fake_microphone_wav_env = "TAV_FAKE_MICROPHONE_WAV";

// Names under which the synthetic devices are listed, after the real ones.
constexpr const char* fake_camera_name = "虚拟摄像头 (测试)";
constexpr const char* fake_microphone_name = "虚拟麦克风 (测试)";

// True when the variable is set to something other than "" or "0".
bool env_flag(const char* name);
// The variable's value, empty when unset.
std::string env_text(const char* name);

// Registers libavdevice's inputs (v4l2, dshow, lavfi) once per process.
void register_ffmpeg_devices();

// One reference on SDL's audio subsystem, initialised with the first reference and shut
// down with the last. False (nothing held) when SDL audio cannot start.
bool sdl_audio_acquire();
void sdl_audio_release();

// Serialises SDL's start and shut-down with our reads of its device lists.
std::mutex& sdl_audio_mutex();

// Serialises opening and closing SDL audio devices, which SDL does not make safe against
// each other. Held while a close joins a device thread, so a device callback must never
// open or close a device; reading the lists (the other mutex) is fine.
std::mutex& sdl_device_mutex();

}  // namespace velmedia_internal
