#pragma once

#include <QString>

/// Facts about the running machine, read from the system each time they are asked for (callers
/// keep what does not change). Every function answers an empty text or -1 when its source
/// cannot be read; none throws. Any thread.
namespace SystemFacts {

/// A kernel variable named with dots ("kernel.ostype"), without the kernel's terminator; empty
/// for an unknown or malformed name.
QString sysctlString(const QString& name);

/// The processor's brand name.
QString processorName();

/// The machine's product name.
QString machineModel();

/// The operating system's name and version, as the distribution words it.
QString osVersion();

/// Seconds since boot, suspended time included; 0 when the clock cannot be read.
qint64 uptimeSeconds();

/// The worst state over the thermal sensors that can be judged: 0 nominal, 1 fair, 2 serious,
/// 3 critical; -1 when none can be read. Reading a sensor may take milliseconds on some
/// hardware.
int thermalState();

} // namespace SystemFacts
