#include "vendorlibrary.h"

#include <QDebug>

VendorLibrary::VendorLibrary(const QStringList &fileNames) : fileNames(fileNames) {}

QLibrary *VendorLibrary::load(QString *errorText) const
{
    QLibrary *library = loadFirstFound(errorText);
    if (!library)
        return nullptr;

    qDebug() << library->fileName() << "loaded";

    bool complete = true;
    for (const EntryPoint &entryPoint : entryPoints) {
        const QFunctionPointer address = library->resolve(entryPoint.symbol);
        qDebug(entryPoint.debugFormat, reinterpret_cast<void *>(address));
        entryPoint.store(address);
        complete = complete && address;
    }
    if (complete)
        return library;

    // A library without one of the entry points is not the vendor's library, even when the
    // missing one is never called.
    *errorText = QStringLiteral("Error while loading shared library '%1'!").arg(fileNames.first());
    for (const EntryPoint &entryPoint : entryPoints)
        entryPoint.store(nullptr);
    library->unload();
    delete library;
    return nullptr;
}

QLibrary *VendorLibrary::loadFirstFound(QString *errorText) const
{
    QString firstError;
    for (const QString &fileName : fileNames) {
        QLibrary *library = new QLibrary(fileName);
        if (library->load())
            return library;
        if (firstError.isNull())
            firstError = library->errorString();
        // Deleting the loader without unload() leaves nothing loaded: the load failed.
        delete library;
    }
    qDebug() << firstError;
    *errorText = firstError;
    return nullptr;
}
