// The speech-to-text stream's messages: a final transcript is never empty nor padded with blanks.
#include "FuzzInput.h"
#include "transcription/SttMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const quiro::SttMessage message = quiro::SttMessage::parse(quiro::fuzz::bytes(data, size));
    if (message.kind == quiro::SttMessage::Kind::finalTranscript) {
        quiro::fuzz::require(!message.text.isEmpty());
        quiro::fuzz::require(!message.text.startsWith(QLatin1Char(' ')) && !message.text.endsWith(QLatin1Char(' ')));
    }
    return 0;
}
