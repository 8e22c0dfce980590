#include "device/PortRegistry.h"
#include "sim/CommandFramer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));

    PortRegistry::Entry entry;
    if (PortRegistry::parseEntry(QStringLiteral("fuzz"), bytes, &entry)) {
        // What parses must survive a round trip.
        PortRegistry::Entry again;
        if (!PortRegistry::parseEntry(entry.name, PortRegistry::formatEntry(entry), &again)
            || again.device != entry.device || again.vendorIdentifier != entry.vendorIdentifier
            || again.productIdentifier != entry.productIdentifier)
            __builtin_trap();
    }

    // Feed the same bytes in two pieces, with raw packets requested now and then;
    // every byte must come out exactly once.
    CommandFramer framer;
    const int cut = size > 0 ? data[0] % (int(size) + 1) : 0;
    int consumed = 0;
    int turn = 0;
    for (int piece = 0; piece < 2; ++piece) {
        framer.append(piece == 0 ? bytes.left(cut) : bytes.mid(cut));
        for (;;) {
            const int raw = (++turn % 7 == 0) ? 1 + turn % 64 : 0;
            const CommandFramer::Item item = framer.next(raw);
            if (item.kind == CommandFramer::None)
                break;
            if (item.bytes.isEmpty())
                __builtin_trap();
            consumed += item.bytes.size();
        }
    }
    consumed += framer.takeRemainder().size();
    if (consumed != int(size))
        __builtin_trap();
    return 0;
}
