#pragma once

#include "audio/AudioSource.h"
#include "audio/SoundServer.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

// Whether a call can hear each side on this desktop. Linux asks no permission for either; what
// decides is whether the devices exist and open. Every problem comes with what to do about it,
// in one line, worded alike wherever it is shown (quiro doctor, first run, settings).
namespace quiro::HearingCheck {

inline const QString soundSettings = QStringLiteral("the sound settings (pavucontrol)");

struct Result {
    bool ok = false;
    QString device; // what is recorded, when ok
    QString reason; // what is wrong and what to do, when not
};

// The seller's voice: the default input exists, repeats no output, is not muted, and opens.
// Never blocks the caller: the server is asked on a worker thread, the device opened on the
// capture's own.
QCoro::Task<Result> microphone();
// The other side: the default output's monitor opens.
QCoro::Task<Result> playback();

// What the server's facts already rule out for the microphone.
std::optional<QString> microphoneProblem(const SoundServer::Info& info);
// Why the playback cannot be recorded, from a failed capture start.
QString playbackProblem(const AudioSource::Failure& failure);
// The sound server itself does not answer.
QString serverProblem(const QString& error);

} // namespace quiro::HearingCheck
