// The CAEN V1718 USB-to-VME bridge, driven through CAEN's VME library, which is loaded at run
// time. Without the library the object still exists and fails every bus operation with -3.
#ifndef CV1718_H
#define CV1718_H

#include "cvmecontroller.h"
#include "vendorlibrary.h"

#include <cstdint>

class CV1718 : public CVmeController
{
public:
    CV1718();
    ~CV1718() override;

    bool open(int index) override;
    bool close() override;
    QString errorString() override;
    QString name() override;
    QString infoString() override;
    void systemReset(int *error = nullptr) override;
    void write16(quint32 address, int addressModifier, quint16 data, int *error = nullptr) override;
    quint16 read16(quint32 address, int addressModifier, int *error = nullptr) override;

    // What a failed cycle's status means, in the library's own terms.
    static QString cycleStatusText(int status);

private:
    // The CAEN library's entry points; each returns 0 on success and a negative code on failure.
    typedef int(VENDOR_CALL *SWRelease)(char *text);
    typedef int(VENDOR_CALL *Init)(int boardType, short link, short boardNumber, int32_t *handle);
    typedef int(VENDOR_CALL *End)(int32_t handle);
    typedef int(VENDOR_CALL *BoardFWRelease)(int32_t handle, char *text);
    typedef int(VENDOR_CALL *Cycle)(int32_t handle, uint32_t address, void *data,
                                    int addressModifier, int dataWidth);
    typedef int(VENDOR_CALL *SetTimeout)(int32_t handle, int timeout);
    typedef int(VENDOR_CALL *SystemReset)(int32_t handle);

    QString softwareReleaseText();

    QLibrary *library = nullptr;
    QString errorText;
    // CAEN hands out handle 0 to the first bridge it opens, so the handle alone cannot tell
    // whether a connection is open.
    int32_t handle = 0;
    bool connected = false;

    SWRelease softwareRelease = nullptr;
    Init init = nullptr;
    End end = nullptr;
    BoardFWRelease boardFirmwareRelease = nullptr;
    Cycle readCycle = nullptr;
    Cycle writeCycle = nullptr;
    SetTimeout setTimeout = nullptr;
    SystemReset resetSystem = nullptr;
};

#endif // CV1718_H
