#pragma once

#include "audio/FragmentChunker.h"
#include "audio/PulseCapture.h"

namespace quiro {

// What the computer plays — the other side of the call — recorded from the monitor of the sound
// server's default output, as 16 kHz mono s16le. Each fragment the server delivers becomes one
// chunk: never empty, always whole samples.
//
// The capture looks the monitor up itself (the default sink's monitor source) and records from it
// by name. It never asks for "@DEFAULT_MONITOR@": PipeWire's PulseAudio layer does not resolve that
// name and would attach the stream to the default input, recording the seller as the client.
//
// Runs its own thread ("quiro.sysaudio"); onChunk is called there. Follows the default output
// when it changes and logs the device it now records from.
class SystemAudioCapture final : public PulseCapture {
public:
    using CaptureError = AudioSource::CaptureError;
    using Failure = AudioSource::Failure;

    SystemAudioCapture();
    ~SystemAudioCapture() override;

    // Also logs "[SysAudio] Stopped", whether or not the capture ran.
    void stop() override;

    // Whether the default output's monitor opens (the stand-in for a screen-recording permission
    // on this platform). Blocks for the round trips to the local server.
    static bool isScreenRecordingGranted();

private:
    void received(QByteArrayView fragment) override;
    void started() override;
    void clearPending() override;

    // Guarded by the recorder's loop lock while the capture thread runs.
    FragmentChunker m_chunker;
};

} // namespace quiro
