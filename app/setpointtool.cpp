#include "setpointtool.h"

#include "setpointdialog.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

using namespace Brelk;

namespace {

// The platform's own file dialog where it has one, like every other file dialog of the panel.
constexpr QFileDialog::Options FileDialogOptions = {};

QString title()
{
    return QStringLiteral("pavex BRELK Control");
}

QString fileFilter()
{
    return SetPointTool::tr("Set-point files (*.brelk);;All files (*)");
}

} // namespace

SetPointTool::SetPointTool(QWidget *window, Panel panel)
    : QObject(window), window(window), panel(std::move(panel)), directory(QDir::homePath())
{
}

void SetPointTool::save()
{
    const Reading *reading = panel.lastReading();
    if (!reading) {
        QMessageBox::information(window, title(),
                                 tr("There is nothing to save yet: the module has not been read "
                                    "since the connection or the address change."));
        return;
    }
    // The values the operator sees when asking to save them.
    const SetPoints setPoints = setPointsOf(*reading, panel.baseAddress());

    const QString suggested =
        directory + QStringLiteral("/brelk-%1.brelk").arg(setPoints.serialText);
    const QString path = QFileDialog::getSaveFileName(window, tr("Save Set Points"), suggested,
                                                      fileFilter(), nullptr, FileDialogOptions);
    if (path.isEmpty())
        return;
    directory = QFileInfo(path).absolutePath();

    QString problem;
    if (!writeSetPointFile(path, setPoints, &problem)) {
        QMessageBox::warning(window, title(),
                             tr("The set points could not be saved to\n%1\n\n%2")
                                 .arg(QDir::toNativeSeparators(path), problem));
        return;
    }
    qDebug() << "Set points saved to" << path;
}

void SetPointTool::restore()
{
    const QString nothingToCompare =
        tr("There is nothing to compare the set points with yet: the module has not been read "
           "since the connection or the address change.");
    if (!panel.lastReading()) {
        QMessageBox::information(window, title(), nothingToCompare);
        return;
    }

    const QString path = QFileDialog::getOpenFileName(window, tr("Restore Set Points"), directory,
                                                      fileFilter(), nullptr, FileDialogOptions);
    if (path.isEmpty())
        return;
    directory = QFileInfo(path).absolutePath();
    const QString nativePath = QDir::toNativeSeparators(path);

    const ResolutionSelection selection = panel.selection();
    SetPoints setPoints;
    QString problem;
    if (!readSetPointFile(path, selection, &setPoints, &problem)) {
        QMessageBox::warning(window, title(),
                             tr("The set points in\n%1\nare not restored:\n%2\n\nNothing was "
                                "written to the module.")
                                 .arg(nativePath, problem));
        return;
    }

    const Reading *reading = panel.lastReading();
    if (!reading) {
        QMessageBox::information(window, title(), nothingToCompare);
        return;
    }
    const RestorePlan confirmed = planRestore(setPoints, *reading);
    if (confirmed.isEmpty()) {
        QMessageBox::information(window, title(),
                                 tr("The module already holds every set point of\n%1\nNothing "
                                    "needs to change.")
                                     .arg(nativePath));
        return;
    }

    SetPointDialog dialog(path, setPoints, confirmed, selection,
                          restoreNotes(setPoints, selection, reading->serialNumber), window);
    if (dialog.exec() != QDialog::Accepted)
        return;

    // The poll went on while the dialog was open: the writes must still be the ones the operator
    // saw, computed from a tick of a module that still answers.
    reading = panel.lastReading();
    if (!reading || QDateTime::currentMSecsSinceEpoch() - reading->time > StaleAfterMs) {
        QMessageBox::warning(window, title(),
                             tr("The module has not answered within the last second: the set "
                                "points are not restored.\n\nNothing was written to the module."));
        return;
    }
    if (planRestore(setPoints, *reading) != confirmed) {
        QMessageBox::warning(window, title(),
                             tr("The module's values changed after they were shown: the set "
                                "points are not restored.\n\nNothing was written to the module. "
                                "Restore again to see the changes as they are now."));
        return;
    }
    panel.execute(confirmed.writes);
    qDebug() << "Set points restored from" << path << "with" << confirmed.writes.size() << "writes";
}
