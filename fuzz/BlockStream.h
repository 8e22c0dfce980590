// From fuzz input, a camera byte stream of well-formed blocks, blocks one byte
// off and junk with and without a marker, with what a correct reader takes
// from it: every well-formed block that follows a boundary (the start, or any
// marker), and nothing else. Bytes outside markers and marker copies avoid
// '*', and junk is padded so that it never makes a block of an accepted length
// by chance: what the generator calls taken is the only correct reading.
#ifndef BLOCKSTREAM_H
#define BLOCKSTREAM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

struct BlockStream
{
    std::string bytes;
    std::vector<std::string> taken; // in stream order, without markers
    unsigned long long dropped = 0; // marker-terminated blocks not taken

    // `lengths`: the accepted block lengths, without the marker; `copies`:
    // whether taken blocks may hold marker copies.
    BlockStream(const uint8_t *data, size_t size, const std::vector<int> &lengths, bool copies)
        : m_lengths(lengths)
    {
        m_boundaries.insert(0);
        size_t at = 0;
        auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
        auto plain = [&](size_t n) {
            std::string s;
            for (size_t i = 0; i < n; ++i) {
                const char c = char(at < size ? data[at++] : uint8_t(i * 7));
                s += c == '*' ? '+' : c;
            }
            return s;
        };
        bool boundary = true;
        while (at < size) {
            const uint8_t op = next();
            const int length = lengths[(op >> 3) % lengths.size()];
            switch (op % 6) {
            case 0:
            case 1: { // a well-formed block
                std::string block = plain(size_t(length));
                if (op & 0x80)
                    block.back() = 10; // the status of a device-information reply
                if (!boundary) {
                    bytes += block;
                    endBlock();
                    break;
                }
                // No earlier boundary may reach this block's marker with another length.
                while (takesFrom(bytes.size() + size_t(length), bytes.size())) {
                    bytes += Marker;
                    endBlock();
                }
                if (copies && length >= 4 && (op & 0x40)) {
                    const size_t where = next() % size_t(length - 3);
                    if (!takesFrom(bytes.size() + where, size_t(-1)))
                        block.replace(where, 4, Marker);
                }
                taken.push_back(block);
                bytes += block + Marker;
                m_boundaries.insert(bytes.size());
                break;
            }
            case 2: // one byte off
                bytes += plain(size_t(length + ((op & 0x40) ? 1 : -1)));
                endBlock();
                break;
            case 3: // junk ended by a marker
                bytes += plain(next());
                endBlock();
                break;
            default: // junk without a marker, short or longer than a block
                bytes += plain(op % 6 == 4 ? 1 + next() % 16 : size_t(next()) * 37 + 1);
                boundary = false;
                continue;
            }
            boundary = true;
        }
    }

private:
    static constexpr const char *Marker = "*##*";

    // Whether a marker at `p` ends an accepted block from a boundary other than `except`.
    bool takesFrom(size_t p, size_t except) const
    {
        for (int length : m_lengths) {
            if (p >= size_t(length) && p - size_t(length) != except && m_boundaries.count(p - size_t(length)))
                return true;
        }
        return false;
    }

    // Ends the bytes since the last marker as a dropped block, padded so that no boundary reaches it.
    void endBlock()
    {
        while (takesFrom(bytes.size(), size_t(-1)))
            bytes += '+';
        bytes += Marker;
        m_boundaries.insert(bytes.size());
        ++dropped;
    }

    std::vector<int> m_lengths;
    std::unordered_set<size_t> m_boundaries;
};

#endif // BLOCKSTREAM_H
