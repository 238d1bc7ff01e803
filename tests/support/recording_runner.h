#pragma once

#include "platform/script_runner.h"

#include <QCoreApplication>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <functional>

/// The one stand-in for the Finder automation: records each script it is given and answers as
/// told, optionally doing part of the work first (the Finder moved some items). Any thread; it
/// notes whether a script was ever run on the GUI thread, where none belongs.
class RecordingRunner final : public ScriptRunner
{
public:
    explicit RecordingRunner(Result answer = {}) : result(std::move(answer)) {}

    Result run(const QString& source) override
    {
        {
            QMutexLocker lock(&m_mutex);
            m_sources.append(source);
        }
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            ranOnGuiThread = true;
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
    std::atomic<bool> ranOnGuiThread{false};

private:
    mutable QMutex m_mutex;
    QStringList m_sources;
};
