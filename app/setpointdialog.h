// The confirmation of a set-point restore: one row per register that would change (channel,
// quantity, the value of the last complete tick and the file's value) and the warning lines,
// with OK and Cancel. Cancel is the default button: nothing reaches the module by a stray Enter.
#ifndef SETPOINTDIALOG_H
#define SETPOINTDIALOG_H

#include "setpointfile.h"

#include <QDialog>

class SetPointDialog : public QDialog
{
    Q_OBJECT

public:
    SetPointDialog(const QString &path, const Brelk::SetPoints &setPoints,
                   const Brelk::RestorePlan &plan, const Brelk::ResolutionSelection &panel,
                   const QStringList &notes, QWidget *parent = nullptr);
};

#endif // SETPOINTDIALOG_H
