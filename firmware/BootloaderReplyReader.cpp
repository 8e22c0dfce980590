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

} // namespace

QVector<BootloaderReply> BootloaderReplyReader::feed(const QByteArray &bytes)
{
    m_buffer.append(bytes);

    QVector<BootloaderReply> replies;
    int pos = 0;
    const int size = int(m_buffer.size());
    while (pos < size) {
        const int start = int(m_buffer.indexOf("DD", pos));
        if (start < 0) {
            // A lone trailing 'D' may be the first half of the next reply's mark.
            pos = m_buffer.endsWith(ReplyMark) ? size - 1 : size;
            break;
        }
        pos = start;
        if (size - pos < 3)
            break;
        const quint8 code = quint8(m_buffer.at(pos + 2));
        const int length = replyLength(code);
        if (length == 0) {
            // Not a reply after all: step over one byte only, the mark may overlap a real one ("DDD\x03").
            ++pos;
            continue;
        }
        if (size - pos < length)
            break;
        BootloaderReply reply;
        reply.code = code;
        reply.value = length > 3 ? quint8(m_buffer.at(pos + 3)) : 0;
        replies.append(reply);
        pos += length;
    }
    m_buffer.remove(0, pos);
    return replies;
}
