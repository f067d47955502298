// The session file and checkpoint readers: whatever a damaged or hand-edited file holds, reading
// it either fails or gives a record that writes back to the same record.
#include "FuzzInput.h"
#include "history/SessionCheckpoint.h"
#include "history/SessionRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = quiro::fuzz::bytes(data, size);
    if (const auto record = quiro::SessionRecord::decode(input)) {
        const auto written = record->encode();
        quiro::fuzz::require(written.has_value());
        quiro::fuzz::require(quiro::SessionRecord::decode(*written) == record);
    }
    if (const auto checkpoint = quiro::SessionCheckpoint::decode(input)) {
        const auto written = checkpoint->encode();
        quiro::fuzz::require(written.has_value());
        quiro::fuzz::require(quiro::SessionCheckpoint::decode(*written) == checkpoint);
    }
    return 0;
}
