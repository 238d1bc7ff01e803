// Update feeds from any bytes: the decoder answers a document or an error, never a crash, and
// its depth limit holds whatever the nesting.
#include "update/feed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const Feed::Decoded decoded = Feed::decode(body);
    // Exactly one of the two is set.
    if (decoded.document.has_value() == !decoded.error.isEmpty()) abort();
    return 0;
}
