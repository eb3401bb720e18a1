// The settings file on disk: a stored password never sits in a file others may read, on the way
// or in the end; a file keeps its owner, group and group permissions; a failure to make it private
// is reported and leaves it as it was; each write replaces the file in one step.
//
// This program defines write, rename and fchmod: each passes the call on to the C library's and
// notes a file others may read that holds the password; fchmod can be made to fail.
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
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Brelk;

namespace {

const char *const Password = "pw-7f3a9c-secret";

std::atomic<bool> watching{false};
std::atomic<bool> failModeChanges{false};

QMutex noticesLock;
QStringList notices;

void notice(const QString &text)
{
    QMutexLocker locker(&noticesLock);
    notices << text;
}

bool holdsPassword(const void *data, size_t size)
{
    return QByteArray::fromRawData(static_cast<const char *>(data), int(size)).contains(Password);
}

template <typename Function> Function realFunction(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// The permission bits of a mode.
QString octal(mode_t mode)
{
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

// The password in a file that others may read, found by its descriptor or its name.
void checkDescriptor(int fd, const char *what)
{
    struct stat status;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & S_IRWXO))
        notice(QStringLiteral("%1: the password went to a file of mode %2")
                   .arg(QLatin1String(what), octal(status.st_mode)));
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

// The status of the file itself, not of a link to it; all zero when there is none.
struct stat statusOf(const QString &path)
{
    struct stat status = {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status;
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

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void storesKeepOwnerAndHideThePassword_data();
    void storesKeepOwnerAndHideThePassword();
    void failureToMakePrivateIsReported();
    void storesInQuickSuccessionReadBack();
};

void TestSettingsFile::initTestCase()
{
    // A file created without a mode of its own would be readable by others.
    ::umask(022);
}

void TestSettingsFile::init()
{
    QMutexLocker locker(&noticesLock);
    notices.clear();
}

void TestSettingsFile::cleanup()
{
    watching = false;
    failModeChanges = false;
}

void TestSettingsFile::storesKeepOwnerAndHideThePassword_data()
{
    QTest::addColumn<QString>("how");    // a password, through the MQTT dialog's store, another key
    QTest::addColumn<int>("modeBefore"); // -1: no file yet
    QTest::addColumn<int>("modeAfter");
    QTest::addColumn<bool>("link"); // the file a link names

    QTest::newRow("no file yet") << "store" << -1 << 0600 << false;
    QTest::newRow("0644") << "store" << 0644 << 0640 << false;
    QTest::newRow("0664") << "store" << 0664 << 0660 << false;
    QTest::newRow("0640, a service's group reads it") << "store" << 0640 << 0640 << false;
    QTest::newRow("0606") << "store" << 0606 << 0600 << false;
#ifdef BRELK_MQTT
    QTest::newRow("the MQTT dialog's store, no file yet") << "mqtt" << -1 << 0600 << false;
#endif
    QTest::newRow("through a link, 0644") << "store" << 0644 << 0640 << true;
    QTest::newRow("other key, 0644") << "key" << 0644 << 0644 << false;
    QTest::newRow("other key, 0640") << "key" << 0640 << 0640 << false;
}

// Every write of the password, every file renamed into place, and the file in the end: none is
// readable by others, and nothing is left beside the file. A file of the service's (owner root or
// brelk, group brelk, mode 0640) saved by root keeps its owner and group: the service can still
// read it. A link stays a link, and the file it names is replaced.
void TestSettingsFile::storesKeepOwnerAndHideThePassword()
{
    QFETCH(QString, how);
    QFETCH(int, modeBefore);
    QFETCH(int, modeAfter);
    QFETCH(bool, link);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("brelkcontrol.ini"));
    const QString file = link ? dir.filePath(QStringLiteral("real/brelkcontrol.ini")) : path;
    if (link) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("real")));
        QVERIFY(QFile::link(QStringLiteral("real/brelkcontrol.ini"), path));
    }
    const uid_t owner = 4242;
    const gid_t group = 4343;
    // Only root can give a file another owner.
    const bool chowned = modeBefore >= 0 && ::geteuid() == 0;
    if (modeBefore >= 0)
        QVERIFY(writeFile(file, Before, mode_t(modeBefore)));
    if (chowned)
        QCOMPARE(::chown(QFile::encodeName(file).constData(), owner, group), 0);

    Settings settings(path);
    const bool password = how != QLatin1String("key");
    watching = true;
    const bool stored = password ? storePassword(settings, how) : settings.storeBaseAddress(0xC100);
    watching = false;
    QVERIFY(stored);

    QVERIFY2(notices.isEmpty(), qPrintable(notices.join(QLatin1Char('\n'))));
    QCOMPARE(contentsOf(file).contains(Password), password);
    QCOMPARE(QFileInfo(path).isSymLink(), link);
    const struct stat after = statusOf(file);
    QCOMPARE(octal(after.st_mode), octal(mode_t(modeAfter)));
    if (chowned) {
        QCOMPARE(after.st_uid, owner);
        QCOMPARE(after.st_gid, group);
    }
    QCOMPARE(QDir(QFileInfo(file).path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("brelkcontrol.ini")});
    if (modeBefore >= 0)
        QCOMPARE(settings.baseAddress(), password ? 0xDD00u : 0xC100u);
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
        QCOMPARE(octal(statusOf(path).st_mode), octal(before));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("brelkcontrol.ini")});
    }
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
