#include "modulewindow.h"
#include "ui_brelkcontrol.h"

#include "display.h"
#include "modulesession.h"

#include <QEvent>

namespace Brelk {

ModuleWindow::ModuleWindow(CrateRuntime *runtime, ModuleSession *session, const Settings &settings,
                           ModuleView::MoveModule moveModule, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::BrelkControl)
{
    ui->setupUi(this);
    // The bridge, About and Quit belong to the main window; this one has the module's menus only.
    ui->actionVME_Controller->setVisible(false);
    ui->actionQuit->setVisible(false);
    ui->menuHelp->menuAction()->setVisible(false);
    for (QAction *action : ui->menuFile->actions()) {
        if (action->isSeparator())
            action->setVisible(false);
    }
    actionClose = ui->menuFile->addAction(tr("Close"), this, &QWidget::close);
    actionClose->setObjectName(QStringLiteral("actionClose"));

    moduleView =
        new ModuleView(this, ui, runtime, session, settings.moduleGroup(session->baseAddress()),
                       std::move(moveModule));
    moduleView->setFormFollowsWhileHidden(false);
    updateTitle();
}

ModuleWindow::~ModuleWindow()
{
    delete moduleView;
    delete ui;
}

void ModuleWindow::updateTitle()
{
    const QString address = baseAddressText(session()->baseAddress());
    const QString name = session()->name();
    const QString module = name.isEmpty() ? address : QStringLiteral("%1 (%2)").arg(name, address);
    setWindowTitle(QStringLiteral("%1 - %2").arg(module, QLatin1String(ProgramName)));
    setObjectName(QStringLiteral("moduleWindow_") + address.mid(2));
}

void ModuleWindow::showAndRaise()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void ModuleWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        actionClose->setText(tr("Close"));
        moduleView->retranslate();
        updateTitle();
    }
}

} // namespace Brelk
