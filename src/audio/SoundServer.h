#pragma once

#include <QString>

#include <variant>

namespace quiro::SoundServer {

// What the sound server says about itself and its default devices, for diagnostics.
struct Info {
    QString serverName;    // "pulseaudio", or "PulseAudio (on PipeWire 0.3.65)"
    QString serverVersion; // "16.1"
    QString defaultSink;   // empty when there is none (or only a placeholder)
    QString defaultSinkDescription;
    QString monitorName; // the default sink's monitor source
    QString defaultSource;
    QString defaultSourceDescription;
    bool sourceIsMonitor = false; // the server fell back to an output's monitor: no microphone
    bool sourceMuted = false;
};

// Whether a default device name is PipeWire's stand-in for one it cannot name ("@DEFAULT_SINK@",
// "@DEFAULT_SOURCE@", "@DEFAULT_MONITOR@"), as it reports for a moment after the default device goes.
// Such a name is no device: looking it up finds nothing, and a stream opened on it lands wherever
// PipeWire likes (a monitor name may attach to the microphone), so it is never sent back.
bool isPlaceholder(const QString& name);

// The server as it names itself, led by the real one when that is PipeWire behind its PulseAudio
// layer: "pulseaudio 16.1", or "PipeWire 0.3.65 — "PulseAudio (on PipeWire 0.3.65) 15.0.0"".
QString describe(const Info& info);

// Asks the server (PULSE_SERVER or the desktop's usual one), waiting at most timeoutMs.
// Returns the facts, or what went wrong in one sentence.
std::variant<Info, QString> query(int timeoutMs = 5000);

} // namespace quiro::SoundServer
