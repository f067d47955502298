// The settings file parser: any text gives key/value pairs, never empty keys or values with
// blanks left at their ends.
#include "FuzzInput.h"
#include "core/EnvFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const quiro::EnvFile::Values values = quiro::EnvFile::parse(quiro::fuzz::text(data, size));
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        quiro::fuzz::require(!it.value().isEmpty());
        quiro::fuzz::require(!it.value().startsWith(QLatin1Char(' ')) && !it.value().endsWith(QLatin1Char(' ')));
    }
    return 0;
}
