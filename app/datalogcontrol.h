// The operator's side of the data log: the checkable "Log to File..." action with its file and
// interval dialogs, the settings that let a log survive a restart, and the one warning when a
// log stops on an error.
#ifndef DATALOGCONTROL_H
#define DATALOGCONTROL_H

#include "datalog.h"
#include "reading.h"

#include <QObject>
#include <QString>

class QAction;
class QWidget;
namespace Brelk {
class Settings;
}

class DataLogControl : public QObject
{
    Q_OBJECT

public:
    // `log` takes the module session's ticks; `settings` keeps the log across restarts; `window`
    // parents the action and the dialogs.
    DataLogControl(DataLog *log, Brelk::Settings *settings, QWidget *window);

    QAction *action() const { return logAction; }
    // The log was started without the operator (resumed from the settings): checks the action.
    void showLogging();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void triggered();
    void chooseAndStart();
    void stopByOperator();
    void start(const QString &path, qint64 intervalMs);
    void logFailed(const QString &path, const QString &reason);
    void retranslate();

    QWidget *window;
    Brelk::Settings *settings;
    QAction *logAction;
    DataLog *log;
};

#endif // DATALOGCONTROL_H
