// Placeholder until the overview lands.
#ifndef OVERVIEWWINDOW_H
#define OVERVIEWWINDOW_H
#include <QWidget>
namespace Brelk {
class Crate;
class ModuleSession;
class OverviewWindow : public QWidget
{
    Q_OBJECT
public:
    OverviewWindow(Crate *, QWidget *parent) : QWidget(parent, Qt::Window) {}
    void showAndRaise() { show(); }
signals:
    void moduleWindowWanted(Brelk::ModuleSession *module);
};
} // namespace Brelk
#endif
