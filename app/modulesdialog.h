// Placeholder until the dialog lands.
#ifndef MODULESDIALOG_H
#define MODULESDIALOG_H
#include "settings.h"
class QWidget;
inline bool editFurtherModules(QWidget *, quint32, QVector<Brelk::ModuleConfig> *)
{
    return false;
}
#endif
