#include "datalogcontrol.h"

#include "display.h"
#include "logschedule.h"
#include "settings.h"

#include <QAction>
#include <QDate>
#include <QDebug>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QStandardPaths>
#include <QWidget>

namespace {

// The interval dialog's items, in their order.
const struct
{
    const char *text;
    qint64 intervalMs;
} IntervalItems[] = {
    {QT_TRANSLATE_NOOP("DataLogControl", "Every tick"), Brelk::EveryTick},
    {QT_TRANSLATE_NOOP("DataLogControl", "1 s"), 1000},
    {QT_TRANSLATE_NOOP("DataLogControl", "10 s"), 10000},
    {QT_TRANSLATE_NOOP("DataLogControl", "60 s"), 60000},
};
const int PreselectedInterval = 1;

} // namespace

DataLogControl::DataLogControl(DataLog *log, Brelk::Settings *settings, QWidget *window)
    : QObject(window), window(window), settings(settings), logAction(new QAction(window)), log(log)
{
    logAction->setObjectName(QStringLiteral("actionLogToFile"));
    logAction->setCheckable(true);
    retranslate();
    connect(logAction, &QAction::triggered, this, &DataLogControl::triggered);
    connect(log, &DataLog::failed, this, &DataLogControl::logFailed);
    window->installEventFilter(this);
}

void DataLogControl::showLogging()
{
    logAction->setChecked(log->isLogging());
}

bool DataLogControl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window && event->type() == QEvent::LanguageChange)
        retranslate();
    return QObject::eventFilter(watched, event);
}

// The action toggles its check mark before it tells: the mark is set here from the log's state.
void DataLogControl::triggered()
{
    if (log->isLogging())
        stopByOperator();
    else
        chooseAndStart();
    logAction->setChecked(log->isLogging());
}

void DataLogControl::chooseAndStart()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested =
        documents + QStringLiteral("/brelk-%1.csv")
                        .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    // The log appends, so an existing file is no reason to ask.
    const QString path = QFileDialog::getSaveFileName(window, tr("Log to File"), suggested,
                                                      tr("CSV files (*.csv);;All files (*)"),
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return;

    QStringList items;
    for (const auto &item : IntervalItems)
        items << tr(item.text);
    bool ok = false;
    const QString choice =
        QInputDialog::getItem(window, tr(Brelk::ProgramName), tr("Log interval:"), items,
                              PreselectedInterval, false, &ok);
    const int index = items.indexOf(choice);
    if (!ok || index < 0)
        return;
    start(QFileInfo(path).absoluteFilePath(), IntervalItems[index].intervalMs);
}

void DataLogControl::start(const QString &path, qint64 intervalMs)
{
    settings->storeLog(path, intervalMs);
    qDebug().noquote() << "Logging to" << path << "at an interval of"
                       << Brelk::logIntervalSetting(intervalMs) << "s";
    log->start(path, intervalMs);
}

void DataLogControl::stopByOperator()
{
    log->stop();
    settings->removeLog();
    qDebug() << "Data log stopped";
}

// The stored log stays: a restart tries the file again, since the operator did not stop it.
void DataLogControl::logFailed(const QString &path, const QString &reason)
{
    logAction->setChecked(false);
    qDebug().noquote() << "Data log to" << path << "stopped:" << reason;
    QMessageBox::warning(window, tr(Brelk::ProgramName),
                         tr("Logging to the file\n%1\nhas stopped: %2.")
                             .arg(QDir::toNativeSeparators(path), reason));
}

void DataLogControl::retranslate()
{
    logAction->setText(tr("Log to File..."));
}
