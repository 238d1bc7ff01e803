#pragma once

#include "platform/script_runner.h"

#include <QMutex>
#include <QStringList>
#include <functional>

/// The stand-in for the Finder automation, from any thread: records each script and answers as
/// told, optionally doing part of the work first (the Finder moved some items).
class RecordingRunner final : public ScriptRunner
{
public:
    explicit RecordingRunner(Result answer = {}) : result(std::move(answer)) {}

    Result run(const QString& source) override
    {
        m_mutex.lock();
        m_sources.append(source);
        m_mutex.unlock();
        if (action) action();
        return result;
    }

    QStringList sources() const
    {
        QMutexLocker lock(&m_mutex);
        return m_sources;
    }

    Result result;
    std::function<void()> action;

private:
    mutable QMutex m_mutex;
    QStringList m_sources;
};
