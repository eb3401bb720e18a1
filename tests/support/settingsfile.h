// Writing a settings file for the panel to read. The toolkit's settings reader keeps a file it has
// read and takes a file of the same size and time for that same file, so every file written here
// gets a modification time of its own.
#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include <QByteArray>
#include <QString>

// brelkcontrol.ini next to the test program, where the main window looks for it.
QString settingsPath();
// False when the file could not be written or its time not set.
bool writeSettingsFile(const QString &path, const QByteArray &contents);
// Empty when there is no file to read.
QByteArray readSettingsFile(const QString &path = settingsPath());

#endif // SETTINGSFILE_H
