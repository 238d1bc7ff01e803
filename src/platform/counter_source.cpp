#include "platform/counter_source.h"

CounterSource::~CounterSource() = default;

void CounterSource::beginSample() {}
