// The settings file on disk: a stored password never sits in a file others may read, on the way
// or in the end; a file keeps its owner, group and group permissions; a failure to make it private
// is reported and leaves it as it was; each write replaces the file in one step.
//
// This program defines write, rename, chmod and fchmod: each passes the call on to the C library's
// and notes a file others may read that holds the password; chmod and fchmod can be made to fail.
#include "settings.h"
#ifdef BRELK_MQTT
#include "mqttsettings.h"
#endif

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Brelk;

namespace {

const char *const Password = "pw-7f3a9c-secret";

std::atomic<bool> watching{false};
std::atomic<bool> failModeChanges{false};

QMutex &noticesLock()
{
    static QMutex lock;
    return lock;
}

QStringList &notices()
{
    static QStringList list;
    return list;
}

void notice(const QString &text)
{
    QMutexLocker locker(&noticesLock());
    notices() << text;
}

bool holdsPassword(const void *data, size_t size)
{
    const size_t length = std::strlen(Password);
    const auto *bytes = static_cast<const char *>(data);
    for (size_t i = 0; i + length <= size; ++i) {
        if (std::memcmp(bytes + i, Password, length) == 0)
            return true;
    }
    return false;
}

template <typename Function> Function realFunction(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// The password in a file that others may read, found by its descriptor or its name.
void checkDescriptor(int fd, const char *what)
{
    struct stat status;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & S_IRWXO))
        notice(QStringLiteral("%1: the password went to a file of mode %2")
                   .arg(QLatin1String(what))
                   .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0')));
}

void checkName(const char *path, const char *what)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    QByteArray contents(1 << 16, '\0');
    const ssize_t length = ::read(fd, contents.data(), size_t(contents.size()));
    if (length > 0 && holdsPassword(contents.constData(), size_t(length)))
        checkDescriptor(fd, what);
    ::close(fd);
}

} // namespace

extern "C" {

ssize_t write(int fd, const void *buffer, size_t size)
{
    using Write = ssize_t (*)(int, const void *, size_t);
    static const Write real = realFunction<Write>("write");
    if (watching && holdsPassword(buffer, size))
        checkDescriptor(fd, "write");
    return real(fd, buffer, size);
}

int rename(const char *from, const char *to) noexcept
{
    using Rename = int (*)(const char *, const char *);
    static const Rename real = realFunction<Rename>("rename");
    if (watching)
        checkName(from, "rename");
    return real(from, to);
}

int chmod(const char *path, mode_t mode) noexcept
{
    using Chmod = int (*)(const char *, mode_t);
    static const Chmod real = realFunction<Chmod>("chmod");
    if (failModeChanges) {
        errno = EPERM;
        return -1;
    }
    return real(path, mode);
}

int fchmod(int fd, mode_t mode) noexcept
{
    using Fchmod = int (*)(int, mode_t);
    static const Fchmod real = realFunction<Fchmod>("fchmod");
    if (failModeChanges) {
        errno = EPERM;
        return -1;
    }
    return real(fd, mode);
}

} // extern "C"

namespace {

struct FileStatus
{
    bool exists = false;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

FileStatus statusOf(const QString &path)
{
    FileStatus result;
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0) {
        result.exists = true;
        result.mode = status.st_mode & 07777;
        result.owner = status.st_uid;
        result.group = status.st_gid;
    }
    return result;
}

QString octal(mode_t mode)
{
    return QStringLiteral("%1").arg(mode, 4, 8, QLatin1Char('0'));
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &contents, mode_t mode)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size() && file.flush() &&
           ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// A store of a password: through the settings' own call, or as the MQTT dialog stores one.
bool storePassword(Settings &settings, const QString &how)
{
#ifdef BRELK_MQTT
    if (how == QLatin1String("mqtt")) {
        MqttSettings mqtt;
        mqtt.host = QStringLiteral("broker.lab");
        mqtt.topic = QStringLiteral("brelk/dd00");
        mqtt.user = QStringLiteral("panel");
        mqtt.password = QLatin1String(Password);
        mqtt.rememberPassword = true;
        return storeMqttSettings(settings, mqtt, 0xDD00);
    }
#else
    Q_UNUSED(how)
#endif
    return settings.store({{QStringLiteral("MqttPassword"), QLatin1String(Password)}}, true);
}

const QByteArray Before = "BaseAddress=0xDD00\nMqttHost=broker.lab\n";

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void passwordIsNeverReadableByOthers_data();
    void passwordIsNeverReadableByOthers();
    void ownerGroupAndModeAreKept_data();
    void ownerGroupAndModeAreKept();
    void failureToMakePrivateIsReported();
    void linkIsKept();
    void storesInQuickSuccessionReadBack();
};

void TestSettingsFile::initTestCase()
{
    // A file created without a mode of its own would be readable by others.
    ::umask(022);
}

void TestSettingsFile::init()
{
    QMutexLocker locker(&noticesLock());
    notices().clear();
}

void TestSettingsFile::cleanup()
{
    watching = false;
    failModeChanges = false;
}

void TestSettingsFile::passwordIsNeverReadableByOthers_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("modeBefore"); // -1: no file yet
    QTest::addColumn<int>("modeAfter");

    QTest::newRow("no file yet") << "store" << -1 << 0600;
    QTest::newRow("0644") << "store" << 0644 << 0640;
    QTest::newRow("0664") << "store" << 0664 << 0660;
    QTest::newRow("0640, a service's group reads it") << "store" << 0640 << 0640;
    QTest::newRow("0606") << "store" << 0606 << 0600;
#ifdef BRELK_MQTT
    QTest::newRow("the MQTT dialog's store, no file yet") << "mqtt" << -1 << 0600;
    QTest::newRow("the MQTT dialog's store, 0644") << "mqtt" << 0644 << 0640;
#endif
}

// Every write of the password, every file renamed into place, and the file in the end: none is
// readable by others, and nothing is left beside the file.
void TestSettingsFile::passwordIsNeverReadableByOthers()
{
    QFETCH(QString, how);
    QFETCH(int, modeBefore);
    QFETCH(int, modeAfter);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("brelkcontrol.ini"));
    if (modeBefore >= 0)
        QVERIFY(writeFile(path, Before, mode_t(modeBefore)));

    Settings settings(path);
    watching = true;
    QVERIFY(storePassword(settings, how));
    watching = false;

    QVERIFY2(notices().isEmpty(), qPrintable(notices().join(QLatin1Char('\n'))));
    QVERIFY(contentsOf(path).contains(Password));
    QCOMPARE(octal(statusOf(path).mode), octal(mode_t(modeAfter)));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("brelkcontrol.ini")});
    if (modeBefore >= 0)
        QCOMPARE(settings.value(QStringLiteral("BaseAddress")).toString(),
                 QStringLiteral("0xDD00"));
}

void TestSettingsFile::ownerGroupAndModeAreKept_data()
{
    QTest::addColumn<QString>("write");
    QTest::addColumn<int>("modeBefore");
    QTest::addColumn<int>("modeAfter");

    QTest::newRow("password, 0640") << "password" << 0640 << 0640;
    QTest::newRow("other key, 0644") << "key" << 0644 << 0644;
    QTest::newRow("other key, 0640") << "key" << 0640 << 0640;
}

// A file of the service's (owner root or brelk, group brelk, mode 0640) saved by root: the
// service can still read it.
void TestSettingsFile::ownerGroupAndModeAreKept()
{
    QFETCH(QString, write);
    QFETCH(int, modeBefore);
    QFETCH(int, modeAfter);
    if (::geteuid() != 0)
        QSKIP("only root can give a file another owner");
    const uid_t owner = 4242;
    const gid_t group = 4343;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("brelkcontrol.ini"));
    QVERIFY(writeFile(path, Before, mode_t(modeBefore)));
    QCOMPARE(::chown(QFile::encodeName(path).constData(), owner, group), 0);

    // Every store replaces the file the same way; a password and another key differ in the mode.
    Settings settings(path);
    const bool password = write == QLatin1String("password");
    QVERIFY(password ? storePassword(settings, QStringLiteral("store"))
                     : settings.storeBaseAddress(0xC100));

    const FileStatus after = statusOf(path);
    QCOMPARE(after.owner, owner);
    QCOMPARE(after.group, group);
    QCOMPARE(octal(after.mode), octal(mode_t(modeAfter)));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("brelkcontrol.ini")});
    // The write itself took place.
    if (password)
        QVERIFY(contentsOf(path).contains(Password));
    else
        QCOMPARE(settings.baseAddress(), 0xC100u);
}

// A file system that refuses every change of mode: the password is not written, and the store
// says so.
void TestSettingsFile::failureToMakePrivateIsReported()
{
    for (const mode_t before : {mode_t(0644), mode_t(0600)}) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("brelkcontrol.ini"));
        QVERIFY(writeFile(path, Before, before));
        Settings settings(path);
        failModeChanges = true;
        const bool stored = storePassword(settings, QStringLiteral("store"));
        failModeChanges = false;
        QVERIFY2(!stored, qPrintable(octal(before)));
        QCOMPARE(contentsOf(path), Before);
        QCOMPARE(octal(statusOf(path).mode), octal(before));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("brelkcontrol.ini")});
    }
}

// A settings file that is a link to the real one: the link stays, the file it names is replaced.
void TestSettingsFile::linkIsKept()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("real")));
    const QString real = dir.filePath(QStringLiteral("real/brelkcontrol.ini"));
    const QString link = dir.filePath(QStringLiteral("brelkcontrol.ini"));
    QVERIFY(writeFile(real, Before, 0644));
    QVERIFY(QFile::link(QStringLiteral("real/brelkcontrol.ini"), link));
    Settings settings(link);
    watching = true;
    QVERIFY(storePassword(settings, QStringLiteral("store")));
    watching = false;
    QVERIFY2(notices().isEmpty(), qPrintable(notices().join(QLatin1Char('\n'))));
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(contentsOf(real).contains(Password));
    QCOMPARE(octal(statusOf(real).mode), octal(0640));
}

// Two values of the same length stored within the same millisecond are each read back: the file
// the toolkit read before is never taken for the new one.
void TestSettingsFile::storesInQuickSuccessionReadBack()
{
    QTemporaryDir dir;
    Settings settings(dir.filePath(QStringLiteral("brelkcontrol.ini")));
    for (int i = 0; i < 200; ++i) {
        const quint32 address = i % 2 ? 0xC000 : 0xDD00;
        QVERIFY(settings.storeBaseAddress(address));
        QCOMPARE(settings.baseAddress(), address);
    }
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
