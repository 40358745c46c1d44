// Any bytes read as a security timeline give the same answer however their
// lines are shared among threads. An intact reading is a chain that
// verifies, and its entries written out again read back the same and intact;
// a break names a line of the bytes that is not blank; bytes that are not
// UTF-8 give no entries; nothing else can go wrong with bytes in hand.
#include "core/SecurityLog.h"
#include "fuzz/FuzzInput.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = FuzzInput::bytes(data, size);
    const TimelineReading reading = AuditLog::read(bytes, 1);
    const TimelineReading shared = AuditLog::read(bytes, 3);
    if (shared.entries != reading.entries || shared.fault != reading.fault) std::abort();

    const TimelineFault& fault = reading.fault;
    switch (fault.kind) {
    case TimelineFault::none: {
        if (!AuditLog::verify(reading.entries)) std::abort();
        QByteArray written;
        for (const AuditEntry& entry : reading.entries)
            written += entry.toJson() + '\n';
        const TimelineReading again = AuditLog::read(written, 1);
        if (again.entries != reading.entries || again.fault.kind != TimelineFault::none)
            std::abort();
        break;
    }
    case TimelineFault::notAnEntry:
    case TimelineFault::brokenChain: {
        const QByteArrayList lines = bytes.split('\n');
        if (fault.line < 1 || fault.line > lines.size() || lines[fault.line - 1].isEmpty())
            std::abort();
        break;
    }
    case TimelineFault::notUtf8:
        if (!reading.entries.isEmpty()) std::abort();
        break;
    case TimelineFault::notAFile:
    case TimelineFault::tooLarge:
    case TimelineFault::unreadable:
        std::abort();
    }
    return 0;
}
