// Drives the modal dialogs of the main window from a test: a zero-delay timer waits for
// QApplication::activeModalWidget(), records what the dialog shows, then fills and accepts it
// or rejects it. Call one of these just before the action that opens the dialog.
#ifndef DIALOGDRIVER_H
#define DIALOGDRIVER_H

#include <QString>
#include <QStringList>

#include <functional>

class QTimer;
class QWidget;

// What a dialog showed the operator when the driver reached it.
struct SeenDialog
{
    bool shown = false;
    QString className;
    QString title;
    QString label;
    // Number dialogs
    double value = 0;
    double minimum = 0;
    double maximum = 0;
    int decimals = 0;
    // Item dialogs
    QStringList items;
    QString currentItem;
    bool editable = false;
    // Message boxes
    QString text;
    QWidget *parent = nullptr;
};

namespace DialogDriver {

// Runs `handler` on the next modal widget once it is up (gives up after five seconds).
void onNextModal(std::function<void(QWidget *)> handler);

// Runs `handler` on the modal widget named `objectName` once it is the active one: for dialogs
// that open over another modal dialog.
void onModal(const QString &objectName, std::function<void(QWidget *)> handler);

// Number dialog: enter `value` and press OK.
void acceptDouble(double value, SeenDialog *seen = nullptr);
// Item dialog: pick `item` (empty: keep the preselected one) and press OK.
void acceptItem(const QString &item, SeenDialog *seen = nullptr);
// Any dialog: press Cancel (or close a message box).
void reject(SeenDialog *seen = nullptr);
// Message box: press its default button.
void acceptMessageBox(SeenDialog *seen = nullptr);

} // namespace DialogDriver

// Closes every message box that comes up while it lives and keeps what each said. A box that no
// step of a test expects would otherwise wait for a click until the test runner's time-out; with
// this, the test can fail at once and say which box it met.
class UnexpectedBoxes
{
public:
    UnexpectedBoxes();
    ~UnexpectedBoxes();
    UnexpectedBoxes(const UnexpectedBoxes &) = delete;
    UnexpectedBoxes &operator=(const UnexpectedBoxes &) = delete;

    QStringList texts() const { return seen; }

private:
    QTimer *timer;
    QStringList seen;
};

#endif // DIALOGDRIVER_H
