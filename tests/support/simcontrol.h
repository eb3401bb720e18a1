// Drives one of the simulator's stand-in libraries from a test through its control functions:
// configuration, a deterministic clock, forced register words and the log of bus cycles. The
// library stays loaded while this object lives, so the simulated module outlives backends that
// load and unload the same library.
#ifndef SIMCONTROL_H
#define SIMCONTROL_H

#include <QLibrary>
#include <QString>
#include <QVector>

class SimControl
{
public:
    // "libxxusb" or "CAENVMElib", found on the library search path as the backends find it.
    explicit SimControl(const QString &libraryName);
    ~SimControl();
    SimControl(const SimControl &) = delete;
    SimControl &operator=(const SimControl &) = delete;

    // False when the library did not load or is not a stand-in; every other call then does
    // nothing and reads give 0 or nothing.
    bool isLoaded() const;

    // As after loading: configuration re-read from the environment, the module fresh, every
    // bridge closed (a backend opened before must open again), the clock on real time, the log
    // cleared.
    void reset();
    // Keys are the full environment variable names, e.g. "BRELKSIM_BASE"; applied at once.
    bool configure(const QString &key, const QString &value);

    void setManualClock(bool on);
    void advance(int ms);

    // Offsets are from the module's base address; reading does not show up in the cycle log.
    void setRegister(quint32 offset, quint16 word);
    quint16 registerWord(quint32 offset);

    struct Cycle
    {
        quint32 address;
        int addressModifier;
        quint16 data;
        bool write;
        int status;

        bool operator==(const Cycle &other) const
        {
            return address == other.address && addressModifier == other.addressModifier &&
                   data == other.data && write == other.write && status == other.status;
        }
    };

    QVector<Cycle> cycles();
    void clearLog();

    // A write as the module sees it, for comparing a command's writes as one ordered list.
    struct Write
    {
        quint32 address;
        quint16 data;
        bool operator==(const Write &o) const { return address == o.address && data == o.data; }
    };
    // The write cycles in the log; each must carry the address modifier 0x29.
    QVector<Write> writes();

private:
    QLibrary library;
    bool complete = false;

    void (*resetFunction)() = nullptr;
    int (*configureFunction)(const char *, const char *) = nullptr;
    void (*setManualClockFunction)(int) = nullptr;
    void (*advanceFunction)(int) = nullptr;
    void (*setRegisterFunction)(unsigned, unsigned) = nullptr;
    unsigned (*registerFunction)(unsigned) = nullptr;
    int (*cycleCountFunction)() = nullptr;
    int (*cycleFunction)(int, unsigned *, int *, unsigned *, int *, int *) = nullptr;
    void (*clearLogFunction)() = nullptr;
};

// QCOMPARE prints differing cycle lists through this.
char *toString(const SimControl::Cycle &cycle);
char *toString(const SimControl::Write &write);

Q_DECLARE_METATYPE(QVector<SimControl::Write>)

#endif // SIMCONTROL_H
