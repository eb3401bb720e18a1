// What the two backend tests expect alike: the lines a backend prints while it loads its vendor
// library, and D16 cycles with the module's address modifier as the simulator logs them.
#ifndef BACKENDEXPECTATIONS_H
#define BACKENDEXPECTATIONS_H

#include "simcontrol.h"

#include <QLibrary>
#include <QStringList>

#include <initializer_list>
#include <utility>

// The "loaded" line, then one line per entry point with its address in `library`, which must be
// the library the backend itself loads. Each entry point is (symbol, debug format).
inline QStringList
loadingLines(QLibrary &library,
             std::initializer_list<std::pair<const char *, const char *>> entryPoints)
{
    QStringList lines{QLatin1Char('"') + library.fileName() + QLatin1String("\" loaded")};
    for (const auto &entryPoint : entryPoints)
        lines << QString::asprintf(entryPoint.second,
                                   reinterpret_cast<void *>(library.resolve(entryPoint.first)));
    return lines;
}

inline SimControl::Cycle readCycle(quint32 address, quint16 data, int status)
{
    return {address, 0x29, data, false, status};
}

inline SimControl::Cycle writeCycle(quint32 address, quint16 data, int status)
{
    return {address, 0x29, data, true, status};
}

#endif // BACKENDEXPECTATIONS_H
