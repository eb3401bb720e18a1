// The Tools menu's set-point actions: save the last complete tick's set voltages, ramp speeds and
// current limits to a file, and restore a file to the module only after it was checked
// completely and the operator confirmed every register it changes.
#ifndef SETPOINTTOOL_H
#define SETPOINTTOOL_H

#include "commands.h"
#include "reading.h"
#include "registermap.h"
#include "setpointfile.h"

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

class SetPointTool : public QObject
{
    Q_OBJECT

public:
    // What the tool needs of the main window.
    struct Panel
    {
        // The last complete tick, or null before any since the connection or the address change.
        std::function<const Brelk::Reading *()> lastReading;
        // The radio-button groups as they are now.
        std::function<Brelk::ResolutionSelection()> selection;
        // Carries out a list of register writes on the module.
        std::function<void(const Brelk::WriteList &)> execute;
        std::function<quint32()> baseAddress;
        // The module's ceilings on the set voltages: a file above one is not restored.
        std::function<Brelk::VoltageCeilings()> ceilings;
    };

    SetPointTool(QWidget *window, Panel panel);

    // A restore aborts when the last complete tick is older than this when the writes would start.
    static constexpr qint64 StaleAfterMs = 1000;

public slots:
    void save();
    void restore();

private:
    QWidget *window;
    Panel panel;
    QString directory;
};

#endif // SETPOINTTOOL_H
