#pragma once

#include "platform/counter_source.h"

#include <QList>
#include <atomic>
#include <functional>
#include <memory>

/// What a scripted counter source answers during one sample; absent means unreadable.
struct Frame
{
    std::optional<QList<ProcessorTicks>> ticks;
    quint64 physical = 0;
    std::optional<VmPageCounts> pages;
    quint64 pageSize = 4096;
    std::optional<SwapUsage> swap;
    std::optional<qint32> pressure;
    std::optional<QList<InterfaceCounters>> interfaces;
    std::optional<QList<QVariant>> power;
    std::optional<std::array<double, 3>> load;
    std::optional<QList<ProcessUsage>> processes;
    quint64 clock = 0; ///< monotonic nanoseconds during the sample
};

/// Sample i (from 0) answers `script(i)`; `taken` counts the samples begun. A tick is 10 ms.
class ScriptedSource final : public CounterSource
{
public:
    explicit ScriptedSource(std::function<Frame(int)> script) : m_script(std::move(script)) {}
    std::shared_ptr<std::atomic<int>> taken = std::make_shared<std::atomic<int>>(0);
    void beginSample() override { m_frame = m_script(taken->fetch_add(1)); }
    TimeBase timeBase() override { return {1'000'000'000u, 100u}; }
    std::optional<QList<ProcessorTicks>> processorTicks() override { return m_frame.ticks; }
    quint64 physicalMemory() override { return m_frame.physical; }
    std::optional<VmPageCounts> vmPageCounts() override { return m_frame.pages; }
    quint64 pageSize() override { return m_frame.pageSize; }
    std::optional<SwapUsage> swapUsage() override { return m_frame.swap; }
    std::optional<qint32> pressureLevel() override { return m_frame.pressure; }
    std::optional<QList<InterfaceCounters>> interfaces() override { return m_frame.interfaces; }
    std::optional<QList<QVariant>> powerSources() override { return m_frame.power; }
    std::optional<std::array<double, 3>> loadAverage() override { return m_frame.load; }
    std::optional<QList<ProcessUsage>> processes() override { return m_frame.processes; }
    quint64 monotonicNanoseconds() override { return m_frame.clock; }

private:
    std::function<Frame(int)> m_script;
    Frame m_frame;
};
