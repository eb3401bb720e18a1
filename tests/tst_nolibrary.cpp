// Start-up without any vendor library on the search path: the warning box comes before the
// window, the status bar says which bridge is missing, and no tick ever runs.
#include "brelkcontroltestaccess.h"
#include "dialogdriver.h"

#include <QFile>
#include <QSettings>
#include <QStatusBar>
#include <QtTest>

using Access = BrelkControlTestAccess;

class TestNoLibrary : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void warningBeforeWindow_data();
    void warningBeforeWindow();
};

void TestNoLibrary::cleanup()
{
    QFile::remove(QCoreApplication::applicationDirPath() + "/brelkcontrol.ini");
}

void TestNoLibrary::warningBeforeWindow_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("name");

    QTest::newRow("VM-USB") << "VM-USB"
                            << "Wiener VM-USB";
    QTest::newRow("V1718") << "V1718"
                           << "CAEN V1718";
}

void TestNoLibrary::warningBeforeWindow()
{
    QFETCH(QString, stored);
    QFETCH(QString, name);

    QSettings(QCoreApplication::applicationDirPath() + "/brelkcontrol.ini", QSettings::IniFormat)
        .setValue("VmeController", stored);

    SeenDialog warning;
    bool windowVisible = true;
    DialogDriver::onNextModal([&](QWidget *box) {
        windowVisible = box->parentWidget() && box->parentWidget()->isVisible();
        DialogDriver::acceptMessageBox(&warning);
    });
    BrelkControl window;
    QVERIFY(warning.shown);
    QVERIFY(!windowVisible);
    QCOMPARE(warning.title, QString("pavex BRELK Control"));
    QCOMPARE(warning.text,
             QString("Could not init VME controller %1!\nMaybe there is no controller connected "
                     "over USB?\n\nYou can try re-powering the crate and re-plugging the USB "
                     "cord\nand then select menu File --> Vme Controller --> Yes.")
                 .arg(name));
    QCOMPARE(window.statusBar()->currentMessage(),
             QString("Not connected to VME controller %1!").arg(name));
    QVERIFY(!Access::timer(window)->isActive());
}

QTEST_MAIN(TestNoLibrary)
#include "tst_nolibrary.moc"
