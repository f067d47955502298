#pragma once

#include "audio/FragmentChunker.h"
#include "audio/PulseCapture.h"

#include <QElapsedTimer>

namespace quiro {

// What the computer plays — the other side of the call — recorded from the monitor of the sound
// server's default output, as 16 kHz mono s16le, in chunks of what gathered between two reads:
// never empty, always whole samples.
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

    // The server is asked for fragmentMs fragments. While the client is heard, and for a while
    // after, each is read as it comes (the read pace is a little shorter than a fragment, so one
    // sent on time is never held back): the recognizer ends the client's turn on the silence that
    // follows, and the hint waits for it. In a quiet call the capture reads every quietReadMs.
    // Each read sends one chunk and wakes both this thread and the transcription stream's.
    static constexpr int fragmentMs = 50;
    static constexpr int promptReadMs = 40;
    static constexpr int quietReadMs = 100;
    static constexpr int promptAfterSoundMs = 1500;
    // Louder than this is sound (speech is -30 to -10 dBFS); a call's idle line is far below it.
    static constexpr double soundDbfs = -55.0;

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
    QElapsedTimer m_sinceSound;
};

} // namespace quiro
