#include "platform/counter_source.h"

#include "platform/linux_counter_source.h"

CounterSource::~CounterSource() = default;

void CounterSource::beginSample() {}

std::unique_ptr<CounterSource> makeSystemCounterSource()
{
    return std::make_unique<LinuxCounterSource>();
}
