#include "messagecapture.h"

namespace {
QStringList *capturedLines = nullptr;
}

MessageCapture::MessageCapture()
{
    capturedLines = new QStringList;
    previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previous);
    delete capturedLines;
    capturedLines = nullptr;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg && capturedLines)
        capturedLines->append(text);
}

QStringList MessageCapture::lines() const
{
    return *capturedLines;
}

QStringList MessageCapture::linesStartingWith(const QString &prefix) const
{
    QStringList matching;
    for (const QString &line : *capturedLines) {
        if (line.startsWith(prefix))
            matching << line;
    }
    return matching;
}

void MessageCapture::clear()
{
    capturedLines->clear();
}
