#include "audio/FragmentChunker.h"

namespace quiro {

std::optional<QByteArray> FragmentChunker::take(QByteArrayView fragment)
{
    QByteArray chunk;
    chunk.reserve(fragment.size() + 1);
    if (m_carry) {
        chunk.append(*m_carry);
        m_carry.reset();
    }
    chunk.append(fragment);
    if (chunk.size() % 2 != 0) {
        m_carry = chunk.back();
        chunk.chop(1);
    }
    if (chunk.isEmpty())
        return std::nullopt;
    return chunk;
}

} // namespace quiro
