#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <mutex>

/// The sizes of many applications, measured on the I/O pool all at once and handed back in the
/// order they finish, as many as have arrived, so that the GUI thread applies them in batches it
/// can bound instead of one posted event (and one wake-up) per application. Shared by the
/// workers and the one reader; any thread.
class SizeArrivals
{
public:
    struct Arrival
    {
        int row = 0; ///< where the application was listed
        QString url;
        qint64 size = 0;
    };

    /// Starts measuring `url` of every job. The jobs are started from a pool task, so starting
    /// thousands costs the caller nothing.
    static std::shared_ptr<SizeArrivals> start(QList<std::pair<int, QString>> jobs);

    /// The sizes that arrived since the last call, in the order they arrived.
    QList<Arrival> take();
    /// How many sizes have not been taken yet.
    qsizetype remaining() const;

private:
    mutable std::mutex m_mutex;
    QList<Arrival> m_arrived;
    qsizetype m_remaining = 0;
};
