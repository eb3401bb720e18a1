#include "mqttprefixes.h"

namespace Brelk {

bool MqttPrefixes::claim(const QString &prefix, const void *owner, const QString &ownerName,
                         QString *holder)
{
    const auto taken = holders.constFind(prefix);
    if (taken != holders.cend() && taken->owner != owner) {
        if (holder)
            *holder = taken->name;
        return false;
    }
    release(owner);
    holders.insert(prefix, {owner, ownerName});
    return true;
}

void MqttPrefixes::release(const void *owner)
{
    for (auto it = holders.begin(); it != holders.end();) {
        if (it->owner == owner)
            it = holders.erase(it);
        else
            ++it;
    }
}

} // namespace Brelk
