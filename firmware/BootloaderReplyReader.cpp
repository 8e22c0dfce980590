#include "firmware/BootloaderReplyReader.h"

namespace {

constexpr char ReplyMark = 'D';

int replyLength(quint8 code)
{
    switch (code) {
    case BootloaderReply::Ready:
    case BootloaderReply::SizeReceived:
    case BootloaderReply::PacketReceived:
        return 3;
    case BootloaderReply::QueryAnswer:
        return 4;
    default:
        return 0;
    }
}

enum Match { Complete, Incomplete, NoMatch };

// Whether the bytes from `pos` on start with a reply; its length in *length.
Match matchAt(const QByteArray &bytes, int pos, int *length)
{
    const int available = int(bytes.size()) - pos;
    for (int i = 0; i < 2; ++i) {
        if (available <= i)
            return Incomplete;
        if (bytes.at(pos + i) != ReplyMark)
            return NoMatch;
    }
    if (available < 3)
        return Incomplete;
    *length = replyLength(quint8(bytes.at(pos + 2)));
    if (*length == 0)
        return NoMatch;
    return available < *length ? Incomplete : Complete;
}

} // namespace

QVector<BootloaderReply> BootloaderReplyReader::feed(const QByteArray &bytes)
{
    const QByteArray data = m_partial + bytes;
    const int readStart = int(m_partial.size());
    m_partial.clear();

    QVector<BootloaderReply> replies;
    int pos = 0; // always a place where a reply may start
    while (pos < data.size()) {
        int length = 0;
        const Match match = matchAt(data, pos, &length);
        if (match == Complete) {
            BootloaderReply reply;
            reply.code = quint8(data.at(pos + 2));
            reply.value = length > 3 ? quint8(data.at(pos + 3)) : 0;
            replies.append(reply);
            pos += length;
        } else if (match == Incomplete) {
            m_partial = data.mid(pos);
            break;
        } else if (pos < readStart) {
            // The partial reply was not one; this read starts afresh.
            pos = readStart;
        } else {
            const int marker = int(data.indexOf("*##*", pos));
            if (marker < 0)
                break;
            pos = marker + 4;
        }
    }
    return replies;
}
