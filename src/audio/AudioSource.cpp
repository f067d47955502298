#include "audio/AudioSource.h"

namespace quiro {

QString AudioSource::Failure::description() const
{
    if (!error)
        return message;
    switch (*error) {
    case CaptureError::noDisplay:
        return QStringLiteral("noDisplay");
    case CaptureError::permissionDenied:
        return QStringLiteral("permissionDenied");
    }
    return message;
}

} // namespace quiro
