// A message in a window's status bar that stays for 10 s: the outcome of a command. A label of its
// own, since every tick shows the serial number as the status bar's message.
#ifndef STATUSNOTICE_H
#define STATUSNOTICE_H

#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;
class QTimer;

namespace Brelk {

class StatusNotice : public QObject
{
    Q_OBJECT

public:
    static constexpr int ShownMs = 10000;

    // The label gets `objectName` and goes to the left of the bar's other permanent widgets.
    StatusNotice(QStatusBar *statusBar, const QString &objectName);

    // Shows `text` for 10 s, in red when it tells of a failure.
    void show(const QString &text, bool failure = false);

private:
    QStatusBar *statusBar;
    QString name;
    QLabel *label = nullptr;
    QTimer *timer;
};

} // namespace Brelk

#endif // STATUSNOTICE_H
