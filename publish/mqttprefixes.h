// The topic prefixes the modules of one program publish under. Two modules under one prefix would
// each take the same command: the module that asks second is refused with the holder's name.
#ifndef MQTTPREFIXES_H
#define MQTTPREFIXES_H

#include <QHash>
#include <QString>

namespace Brelk {

class MqttPrefixes
{
public:
    // True when `prefix` is free or `owner`'s already; else `holder` gets the holder's name.
    bool claim(const QString &prefix, const void *owner, const QString &ownerName, QString *holder);
    void release(const void *owner);

private:
    struct Holder
    {
        const void *owner;
        QString name;
    };
    QHash<QString, Holder> holders;
};

} // namespace Brelk

#endif // MQTTPREFIXES_H
