#include "core/progress.h"

#include <QMetaObject>
#include <QMutex>
#include <QObject>

struct ProgressRelay::Shared
{
    QMutex mutex;
    std::unique_ptr<QObject> context; // lives on the creating thread; gone with the relay
    std::function<void(RunProgress)> apply;
    RunProgress latest;
    bool pending = false;

    void post(RunProgress progress)
    {
        const QMutexLocker lock(&mutex);
        latest = progress;
        if (!context || pending) return;
        pending = true;
        // The queued call dies with the context, so it never runs after the relay is gone.
        QMetaObject::invokeMethod(
            context.get(),
            [this] {
                RunProgress shown;
                {
                    const QMutexLocker guard(&mutex);
                    pending = false;
                    shown = latest;
                }
                apply(shown);
            },
            Qt::QueuedConnection);
    }
};

ProgressRelay::ProgressRelay(std::function<void(RunProgress)> apply)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->context = std::make_unique<QObject>();
    m_shared->apply = std::move(apply);
}

ProgressRelay::~ProgressRelay()
{
    std::unique_ptr<QObject> context;
    {
        const QMutexLocker lock(&m_shared->mutex);
        context = std::move(m_shared->context);
    }
    // Deleted outside the lock: its pending call takes the same lock if it runs first.
}

ProgressCallback ProgressRelay::callback() const
{
    return [shared = m_shared](RunProgress progress) { shared->post(progress); };
}
