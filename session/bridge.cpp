#include "bridge.h"

#include "cv1718.h"
#include "cvmusb.h"
#include "registermap.h"

#include <QDebug>

namespace Brelk {

Bridge::~Bridge()
{
    release();
}

bool Bridge::connect(const QString &controllerSetting)
{
    release();
    if (controllerSetting == QLatin1String("V1718"))
        vmeController = new CV1718;
    else
        vmeController = new CVmUsb;
    open = vmeController->open(0);
    if (open)
        qDebug() << "Connected to VME controller" << vmeController->name();
    return open;
}

void Bridge::adopt(CVmeController *replacement, bool isOpen)
{
    release();
    vmeController = replacement;
    open = isOpen;
}

void Bridge::close()
{
    if (open)
        vmeController->close();
    open = false;
}

bool Bridge::reopen()
{
    if (!vmeController)
        return false;
    close();
    open = vmeController->open(0);
    return open;
}

QString Bridge::name() const
{
    return vmeController ? vmeController->name() : QString();
}

quint16 Bridge::read16(quint32 address, int addressModifier, int *status)
{
    if (!vmeController) {
        if (status)
            *status = -1;
        return NoModule;
    }
    return vmeController->read16(address, addressModifier, status);
}

int Bridge::write16(quint32 address, int addressModifier, quint16 data)
{
    if (!vmeController)
        return -1;
    // A backend that reports nothing leaves the status as it found it: success.
    int status = 0;
    vmeController->write16(address, addressModifier, data, &status);
    return status;
}

QString Bridge::statusText(int status) const
{
    if (!vmeController)
        return QStringLiteral("no controller");
    if (dynamic_cast<CV1718 *>(vmeController))
        return CV1718::cycleStatusText(status);
    if (dynamic_cast<CVmUsb *>(vmeController))
        return CVmUsb::cycleStatusText(status);
    return QStringLiteral("status %1").arg(status);
}

void Bridge::release()
{
    close();
    delete vmeController;
    vmeController = nullptr;
}

} // namespace Brelk
