#pragma once

#include <QString>

#include <variant>

namespace quiro::SoundServer {

// What the sound server says about itself and its default devices, for diagnostics.
struct Info {
    QString serverName;    // "pulseaudio", or "PulseAudio (on PipeWire 0.3.65)"
    QString serverVersion; // "16.1"
    QString defaultSink;   // empty when there is none
    QString defaultSinkDescription;
    QString monitorName; // the default sink's monitor source
    QString defaultSource;
    QString defaultSourceDescription;
    bool sourceIsMonitor = false; // the server fell back to an output's monitor: no microphone
    bool sourceMuted = false;
};

// The server as it names itself, led by the real one when that is PipeWire behind its PulseAudio
// layer: "pulseaudio 16.1", or "PipeWire 0.3.65 — "PulseAudio (on PipeWire 0.3.65) 15.0.0"".
QString describe(const Info& info);

// Asks the server (PULSE_SERVER or the desktop's usual one), waiting at most timeoutMs.
// Returns the facts, or what went wrong in one sentence.
std::variant<Info, QString> query(int timeoutMs = 5000);

} // namespace quiro::SoundServer
