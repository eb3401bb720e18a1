#include "dialogdriver.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

void record(QWidget *widget, SeenDialog *seen)
{
    if (!seen)
        return;
    seen->shown = true;
    seen->className = QString::fromLatin1(widget->metaObject()->className());
    seen->title = widget->windowTitle();
    seen->parent = widget->parentWidget();
    if (auto *input = qobject_cast<QInputDialog *>(widget)) {
        seen->label = input->labelText();
        seen->value = input->doubleValue();
        seen->minimum = input->doubleMinimum();
        seen->maximum = input->doubleMaximum();
        seen->decimals = input->doubleDecimals();
        seen->items = input->comboBoxItems();
        seen->currentItem = input->textValue();
        seen->editable = input->isComboBoxEditable();
    } else if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        seen->text = box->text();
    }
}

void pollForModal(std::function<void(QWidget *)> handler, int triesLeft)
{
    QTimer::singleShot(triesLeft == 500 ? 0 : 10, [handler, triesLeft] {
        if (QWidget *widget = QApplication::activeModalWidget())
            handler(widget);
        else if (triesLeft > 0)
            pollForModal(handler, triesLeft - 1);
    });
}

} // namespace

namespace DialogDriver {

void onNextModal(std::function<void(QWidget *)> handler)
{
    pollForModal(std::move(handler), 500);
}

void onModal(const QString &objectName, std::function<void(QWidget *)> handler)
{
    onNextModal([objectName, handler](QWidget *widget) {
        if (widget->objectName() == objectName)
            handler(widget);
        else
            QTimer::singleShot(10, [objectName, handler] { onModal(objectName, handler); });
    });
}

void acceptDouble(double value, SeenDialog *seen)
{
    onNextModal([value, seen](QWidget *widget) {
        record(widget, seen);
        auto *input = qobject_cast<QInputDialog *>(widget);
        if (!input) {
            widget->close();
            return;
        }
        input->setDoubleValue(value);
        input->accept();
    });
}

void acceptItem(const QString &item, SeenDialog *seen)
{
    onNextModal([item, seen](QWidget *widget) {
        record(widget, seen);
        auto *input = qobject_cast<QInputDialog *>(widget);
        if (!input) {
            widget->close();
            return;
        }
        if (!item.isEmpty())
            input->setTextValue(item);
        input->accept();
    });
}

void reject(SeenDialog *seen)
{
    onNextModal([seen](QWidget *widget) {
        record(widget, seen);
        if (auto *dialog = qobject_cast<QDialog *>(widget))
            dialog->reject();
        else
            widget->close();
    });
}

void acceptMessageBox(SeenDialog *seen)
{
    onNextModal([seen](QWidget *widget) {
        record(widget, seen);
        if (auto *box = qobject_cast<QMessageBox *>(widget)) {
            if (QPushButton *button = box->defaultButton())
                button->click();
            else
                box->accept();
        } else if (auto *dialog = qobject_cast<QDialog *>(widget)) {
            dialog->accept();
        }
    });
}

} // namespace DialogDriver

UnexpectedBoxes::UnexpectedBoxes() : timer(new QTimer)
{
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            seen << box->text();
            box->reject();
        }
    });
    timer->start();
}

UnexpectedBoxes::~UnexpectedBoxes()
{
    delete timer;
}
