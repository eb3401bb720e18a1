// The window of a further module: the panel's form for one module besides the first, with a File
// menu (Module Address..., Close) and the module's own tools. Closing it only hides it; the module
// is still polled, logged and published.
#ifndef MODULEWINDOW_H
#define MODULEWINDOW_H

#include "moduleview.h"

#include <QMainWindow>

namespace Ui {
class BrelkControl;
}

namespace Brelk {

class ModuleWindow : public QMainWindow
{
    Q_OBJECT

public:
    // `settings` is the panel's settings file; the window reads the module's group in it.
    ModuleWindow(CrateRuntime *runtime, ModuleSession *session, const Settings &settings,
                 ModuleView::MoveModule moveModule, QWidget *parent);
    ~ModuleWindow() override;

    ModuleSession *session() const { return moduleView->session(); }
    ModuleView *view() const { return moduleView; }
    // "Drift chamber (0xDC00) - pavex BRELK Control", and the object name moduleWindow_DC00,
    // for the module's name and address as they are now.
    void updateTitle();
    void showAndRaise();

protected:
    void changeEvent(QEvent *event) override;

private:
    Ui::BrelkControl *ui;
    ModuleView *moduleView;
    QAction *actionClose;
};

} // namespace Brelk

#endif // MODULEWINDOW_H
