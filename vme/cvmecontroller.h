// The abstract USB-to-VME bridge: single D16 cycles at a 32-bit VME address with an explicit
// address modifier, and a VME system reset. The main window owns exactly one controller and
// never learns which backend it holds.
#ifndef CVMECONTROLLER_H
#define CVMECONTROLLER_H

#include <QString>
#include <QtGlobal>

class CVmeController
{
public:
    // A backend's destructor releases its vendor library but leaves an open connection open,
    // so an owner always calls close() before deleting a controller.
    virtual ~CVmeController() {}

    virtual bool open(int index) = 0;
    virtual bool close() = 0;
    virtual QString errorString() = 0;
    virtual QString name() = 0;
    virtual QString infoString() = 0;
    // Statuses are the vendor library's own codes; a negative status always means failure.
    virtual void systemReset(int *error = nullptr) = 0;
    virtual void write16(quint32 address, int addressModifier, quint16 data,
                         int *error = nullptr) = 0;
    virtual quint16 read16(quint32 address, int addressModifier, int *error = nullptr) = 0;
};

#endif // CVMECONTROLLER_H
