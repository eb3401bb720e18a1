#include "statusnotice.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace Brelk {

StatusNotice::StatusNotice(QStatusBar *statusBar, const QString &objectName)
    : QObject(statusBar), statusBar(statusBar), name(objectName), timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setInterval(ShownMs);
    connect(timer, &QTimer::timeout, this, [this] {
        delete label;
        label = nullptr;
    });
}

void StatusNotice::show(const QString &text, bool failure)
{
    if (!label) {
        label = new QLabel(statusBar);
        label->setObjectName(name);
        statusBar->insertPermanentWidget(0, label);
    }
    label->setText(text);
    label->setStyleSheet(failure ? QStringLiteral("color: red") : QString());
    timer->start();
}

} // namespace Brelk
