#pragma once

#include <QString>

/// The Linux realisation of SystemFacts: machine facts read from /proc, /sys and /etc below a
/// root folder ("/" for the running system, a fixture folder in tests). Every function answers
/// an empty text or -1 when its source cannot be read; none throws. Any thread.
namespace LinuxSystemFacts {

/// A kernel variable named with dots: "kernel.ostype" is root/proc/sys/kernel/ostype. The
/// value up to its first NUL, without the line break the kernel ends it with, decoded as UTF-8
/// (invalid sequences repaired). Empty for an unknown or malformed name.
QString sysctlString(const QString& root, const QString& name);

/// The processor's brand name: "model name" of /proc/cpuinfo (or its "Hardware" / "cpu model"
/// line on machines that have no "model name"), else the device-tree model.
QString processorName(const QString& root);

/// The product name of the machine (DMI), else the device-tree model.
QString machineModel(const QString& root);

/// PRETTY_NAME of /etc/os-release (else /usr/lib/os-release), unquoted.
QString osVersion(const QString& root);

/// Seconds since boot, suspended time included; 0 when the clock cannot be read.
qint64 uptimeSeconds();

/// The worst state over the thermal zones that have trip points: 0 below every trip point,
/// 1 at or above a passive one, 2 at or above a hot one, 3 at or above a critical one; -1 when
/// no zone can be read. Reading a sensor may take milliseconds on some hardware.
int thermalState(const QString& root);

} // namespace LinuxSystemFacts
