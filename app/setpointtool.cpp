#include "setpointtool.h"

#include "display.h"

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
    return QString::fromLatin1(Brelk::ProgramName);
}

QString fileFilter()
{
    return SetPointTool::tr("Set-point files (*.brelk);;All files (*)");
}

// A message box whose text is never read as markup: it may quote a file's name or contents.
void tell(QWidget *window, QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, title(), text, QMessageBox::Ok, window);
    box.setTextFormat(Qt::PlainText);
    box.exec();
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
        tell(window, QMessageBox::Information,
             tr("There is nothing to save yet: the module has not been read "
                "since the connection or the address change."));
        return;
    }
    // The values the operator sees when asking to save them.
    const SetPoints setPoints = setPointsOf(*reading, panel.baseAddress());

    const QString suggested =
        directory + QStringLiteral("/brelk-%1.brelk").arg(setPoints.serialText);
    // A name typed without an extension gets ".brelk"; the dialog asks before it replaces the
    // file of that name.
    QFileDialog dialog(window, tr("Save Set Points"), suggested, fileFilter());
    dialog.setOptions(FileDialogOptions);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("brelk"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    directory = QFileInfo(path).absolutePath();

    QString problem;
    if (!writeSetPointFile(path, setPoints, &problem)) {
        tell(window, QMessageBox::Warning,
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
        tell(window, QMessageBox::Information, nothingToCompare);
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
    // A file above a ceiling is refused like a file outside the dialogs' ranges.
    if (readSetPointFile(path, selection, &setPoints, &problem))
        problem = setPointCeilingProblem(setPoints, panel.ceilings());
    if (!problem.isEmpty()) {
        tell(window, QMessageBox::Warning,
             tr("The set points in\n%1\nare not restored:\n%2\n\nNothing was "
                "written to the module.")
                 .arg(nativePath, problem));
        return;
    }

    const Reading *reading = panel.lastReading();
    if (!reading) {
        tell(window, QMessageBox::Information, nothingToCompare);
        return;
    }
    const RestorePlan confirmed = planRestore(setPoints, *reading);
    if (confirmed.isEmpty()) {
        tell(window, QMessageBox::Information,
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
        tell(window, QMessageBox::Warning,
             tr("The module has not answered within the last second: the set "
                "points are not restored.\n\nNothing was written to the module."));
        return;
    }
    if (planRestore(setPoints, *reading) != confirmed) {
        tell(window, QMessageBox::Warning,
             tr("The module's values changed after they were shown: the set "
                "points are not restored.\n\nNothing was written to the module. "
                "Restore again to see the changes as they are now."));
        return;
    }
    panel.execute(confirmed.writes);
    qDebug() << "Set points restored from" << path << "with" << confirmed.writes.size() << "writes";
}
