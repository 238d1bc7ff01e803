#pragma once

#include <QString>

/// How hot the machine runs, from the thermal zones' own trip points.
enum class ThermalState { unknown = -1, nominal = 0, fair = 1, serious = 2, critical = 3 };

/// Machine facts that do not change while the program runs, plus the two live ones the
/// monitor's details show. Every function may be called from any thread and never fails: what
/// cannot be read is an empty text (or `ThermalState::unknown`).
namespace SystemInfo {

/// A string-valued kernel variable by its dotted name ("kernel.ostype"), without the kernel's
/// terminator; empty when the kernel does not know the name. Reads the kernel on every call.
QString sysctlString(const QString& name);

/// The processor's brand name ("Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz"). Computed once.
QString chip();

/// The machine's model ("ThinkPad X1 Carbon", "Raspberry Pi 4 Model B Rev 1.4"). Computed once.
QString model();

/// The operating system's version text ("Debian GNU/Linux 12 (bookworm)"). Computed once.
QString osVersion();

/// Seconds since boot, time spent suspended included. Read on every call; cheap.
qint64 uptime();

/// The current thermal state. Sensors can be slow to answer, so a reading is reused for a few
/// seconds; safe to call while drawing.
ThermalState thermalState();

} // namespace SystemInfo
