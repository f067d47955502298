#include "audio/FragmentChunker.h"

namespace quiro {

std::optional<QByteArray> FragmentChunker::take(QByteArrayView fragment, qsizetype minChunkBytes)
{
    m_pending.append(fragment);
    const qsizetype whole = m_pending.size() & ~qsizetype(1);
    if (whole < minChunkBytes)
        return std::nullopt;
    QByteArray chunk = m_pending.first(whole);
    m_pending.remove(0, whole);
    return chunk;
}

} // namespace quiro
