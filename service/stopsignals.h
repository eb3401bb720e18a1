// SIGTERM and SIGINT as a Qt signal: the handler only writes a byte to a pipe, and the event loop
// reads it and emits `stopRequested`, so that nothing but the write happens inside the handler.
// On systems without POSIX signals it does nothing.
#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

#include <QObject>

class QSocketNotifier;

namespace Brelk {

class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *notifier = nullptr;
};

} // namespace Brelk

#endif // STOPSIGNALS_H
