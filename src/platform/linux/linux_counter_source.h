#pragma once

#include "platform/counter_source.h"

#include <QString>
#include <memory>

/// The Linux counter source: /proc and /sys below a root folder. Each file is read at most once
/// per sample; per-process descriptors stay open between samples (see ProcessTable). Not
/// thread-safe: one sample at a time, from any thread.
class LinuxCounterSource final : public CounterSource
{
public:
    /// Reads the files below `root`: "/" for the running system, a folder holding copies of
    /// proc/... and sys/... files for tests. Without root privileges only the processes of our
    /// own real user are listed.
    explicit LinuxCounterSource(const QString& root = QStringLiteral("/"));
    ~LinuxCounterSource() override;
    LinuxCounterSource(const LinuxCounterSource&) = delete;
    LinuxCounterSource& operator=(const LinuxCounterSource&) = delete;

    void beginSample() override;
    TimeBase timeBase() override;
    std::optional<QList<ProcessorTicks>> processorTicks() override;
    quint64 physicalMemory() override;
    std::optional<VmPageCounts> vmPageCounts() override;
    quint64 pageSize() override;
    std::optional<SwapUsage> swapUsage() override;
    std::optional<qint32> pressureLevel() override;
    std::optional<QList<InterfaceCounters>> interfaces() override;
    std::optional<QList<QVariant>> powerSources() override;
    std::optional<std::array<double, 3>> loadAverage() override;
    std::optional<QList<ProcessUsage>> processes() override;
    quint64 monotonicNanoseconds() override;

    /// Descriptors currently held open between samples.
    int keptDescriptors() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
