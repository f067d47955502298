#include "audio/ChunkPump.h"

namespace quiro {

void ChunkPump::append(QByteArrayView bytes)
{
    m_pending.append(bytes);
}

std::optional<QByteArray> ChunkPump::tick()
{
    if (m_pending.size() < chunkBytes)
        return std::nullopt;
    QByteArray chunk = m_pending.first(chunkBytes);
    m_pending.remove(0, chunkBytes);
    return chunk;
}

void ChunkPump::clear()
{
    m_pending.clear();
}

} // namespace quiro
