// Loading a bridge vendor's library at run time. Both backends do the same job: load the library
// by name, resolve a fixed list of entry points in order, print each address on the debug stream,
// and give the library up again when any entry point is missing.
#ifndef VENDORLIBRARY_H
#define VENDORLIBRARY_H

#include <QLibrary>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// The vendors build their Windows libraries with the __stdcall convention; it changes the calling
// sequence of 32-bit builds, so every entry-point type carries it.
#ifdef Q_OS_WIN
#define VENDOR_CALL __stdcall
#else
#define VENDOR_CALL
#endif

class VendorLibrary
{
public:
    // fileNames are tried in turn; the first one is the library's own name, used in the
    // missing-symbol message, and its failure is the one reported when none of them loads.
    explicit VendorLibrary(const QStringList &fileNames);

    // Registers one entry point: resolved under `symbol`, its address printed with
    // `debugFormat`, and stored in `target` (null when the library lacks the symbol).
    template <typename Function>
    void addEntryPoint(const char *symbol, const char *debugFormat, Function *target)
    {
        entryPoints.append({symbol, debugFormat, [target](QFunctionPointer address) {
                                *target = reinterpret_cast<Function>(address);
                            }});
    }

    // Returns the loaded library, owned by the caller, with every entry point resolved; or null
    // with *errorText set to the loader's error or the missing-symbol message.
    QLibrary *load(QString *errorText) const;

private:
    struct EntryPoint
    {
        const char *symbol;
        const char *debugFormat;
        std::function<void(QFunctionPointer)> store;
    };

    QLibrary *loadFirstFound(QString *errorText) const;

    QStringList fileNames;
    QVector<EntryPoint> entryPoints;
};

#endif // VENDORLIBRARY_H
