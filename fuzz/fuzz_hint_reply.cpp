// The hint service's replies: the lenient JSON reader, the Markdown strip and the cut to a hint's
// length, which must never give more words than asked for.
#include "FuzzInput.h"
#include "coaching/HintEngine.h"
#include "conversation/WordCount.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString reply = quiro::fuzz::text(data, size);
    (void)quiro::HintEngine::parseJSON(reply);
    const QString plain = quiro::HintEngine::stripMarkdown(reply);
    const QString cut = quiro::HintEngine::firstWords(plain, quiro::HintEngine::maxHintWords);
    quiro::fuzz::require(quiro::wordCount(cut) <= quiro::HintEngine::maxHintWords);
    return 0;
}
