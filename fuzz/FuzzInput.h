#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// What every fuzz target shares: the input as bytes or text, and a check that stops the run when
// a property the code promises does not hold (a crash is what libFuzzer reports and keeps).
namespace quiro::fuzz {

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

inline QString text(const uint8_t* data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

inline void require(bool promise)
{
    if (!promise)
        std::abort();
}

} // namespace quiro::fuzz
