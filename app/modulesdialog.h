// "Tools" > "Modules...": the list of the crate's further modules, each with its base address, its
// name and the resolution options it was built with, edited with Add, Edit and Remove. The first
// module stays the one of "File" > "Module Address..." and is not listed.
#ifndef MODULESDIALOG_H
#define MODULESDIALOG_H

#include "settings.h"

#include <QVector>

class QWidget;

namespace Brelk {

// Shows the dialog on `modules`; true on OK with `modules` the edited list in ascending address
// order, false on Cancel with `modules` unchanged. No entry may take `firstAddress` or another
// entry's address, and the crate holds at most 16 modules in all.
bool editFurtherModules(QWidget *parent, quint32 firstAddress, QVector<ModuleConfig> *modules);

} // namespace Brelk

#endif // MODULESDIALOG_H
