#include "simcontrol.h"

#include <QByteArray>
#include <QtTest>

namespace {
template <typename Function>
bool resolveInto(QLibrary &library, const char *symbol, Function *target)
{
    *target = reinterpret_cast<Function>(library.resolve(symbol));
    return *target != nullptr;
}
} // namespace

SimControl::SimControl(const QString &libraryName) : library(libraryName)
{
    // The loader object is shared with the backends' loaders of the same name, and a backend's
    // unload would otherwise drop the module (and these function pointers) with it.
    library.setLoadHints(QLibrary::PreventUnloadHint);
    if (!library.load())
        return;
    complete = resolveInto(library, "brelksim_reset", &resetFunction) &&
               resolveInto(library, "brelksim_configure", &configureFunction) &&
               resolveInto(library, "brelksim_set_manual_clock", &setManualClockFunction) &&
               resolveInto(library, "brelksim_advance_ms", &advanceFunction) &&
               resolveInto(library, "brelksim_set_register", &setRegisterFunction) &&
               resolveInto(library, "brelksim_register", &registerFunction) &&
               resolveInto(library, "brelksim_cycle_count", &cycleCountFunction) &&
               resolveInto(library, "brelksim_cycle", &cycleFunction) &&
               resolveInto(library, "brelksim_clear_log", &clearLogFunction);
}

SimControl::~SimControl()
{
    if (library.isLoaded())
        library.unload();
}

bool SimControl::isLoaded() const
{
    return complete;
}

void SimControl::reset()
{
    if (complete)
        resetFunction();
}

bool SimControl::configure(const QString &key, const QString &value)
{
    return complete &&
           configureFunction(key.toLatin1().constData(), value.toLatin1().constData()) == 0;
}

void SimControl::setManualClock(bool on)
{
    if (complete)
        setManualClockFunction(on ? 1 : 0);
}

void SimControl::advance(int ms)
{
    if (complete)
        advanceFunction(ms);
}

void SimControl::setRegister(quint32 offset, quint16 word)
{
    if (complete)
        setRegisterFunction(offset, word);
}

quint16 SimControl::registerWord(quint32 offset)
{
    return complete ? quint16(registerFunction(offset)) : 0;
}

QVector<SimControl::Cycle> SimControl::cycles()
{
    QVector<Cycle> list;
    if (!complete)
        return list;
    const int count = cycleCountFunction();
    for (int i = 0; i < count; ++i) {
        unsigned address = 0;
        unsigned data = 0;
        int addressModifier = 0;
        int write = 0;
        int status = 0;
        if (cycleFunction(i, &address, &addressModifier, &data, &write, &status) == 0)
            list.append({address, addressModifier, quint16(data), write != 0, status});
    }
    return list;
}

void SimControl::clearLog()
{
    if (complete)
        clearLogFunction();
}

char *toString(const SimControl::Cycle &cycle)
{
    const QByteArray text =
        QByteArray(cycle.write ? "W(" : "R(") + "0x" + QByteArray::number(cycle.address, 16) +
        ", 0x" + QByteArray::number(cycle.addressModifier, 16) + ", 0x" +
        QByteArray::number(cycle.data, 16) + ", status " + QByteArray::number(cycle.status) + ")";
    return qstrdup(text.constData());
}

QVector<SimControl::Write> SimControl::writes()
{
    QVector<Write> result;
    for (const Cycle &cycle : cycles()) {
        if (cycle.write) {
            [&] { QCOMPARE(cycle.addressModifier, 0x29); }();
            result.append({cycle.address, cycle.data});
        }
    }
    return result;
}

char *toString(const SimControl::Write &write)
{
    return qstrdup(
        QString::asprintf("W(0x%04X, 0x29, %u)", write.address, write.data).toLatin1().constData());
}
