// The part of the panel's form that shows one module: each channel's fields and command buttons,
// and the resolution radio groups. Every window that shows a module names them through this one
// list, taken from its form once.
#ifndef MODULEFORM_H
#define MODULEFORM_H

#include "reading.h"

#include <array>
#include <vector>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace Ui {
class BrelkControl;
}

struct ModuleForm
{
    struct Channel
    {
        QLineEdit *vset, *ramp, *vmeas, *imeas, *imeas2, *status, *polarity, *kill, *hvOn, *status2,
            *limitV, *limitI, *softLimitI, *softLimitI2;
        QPushButton *clearStatus2, *setVset, *setRamp, *setSoftLimitI, *setSoftLimitI2;

        // Every field a complete tick writes.
        std::array<QLineEdit *, 14> fields() const;
        std::array<QPushButton *, 5> buttons() const;
    };

    explicit ModuleForm(Ui::BrelkControl *ui);

    // Channel A's fields, then channel B's.
    std::vector<QLineEdit *> tickFields() const;
    std::vector<QPushButton *> commandButtons() const;
    std::vector<QRadioButton *> resolutionButtons() const;
    // The buttons that show `selection`, one of each group.
    std::array<QRadioButton *, 3> buttonsOf(const Brelk::ResolutionSelection &selection) const;
    // The selection the checked buttons name.
    Brelk::ResolutionSelection selection() const;

    Channel channels[2];
    // 1 V, 100 mV.
    QRadioButton *voltage[2];
    // In the order of CurrentResolution and of SecondRange.
    QRadioButton *current[4];
    QRadioButton *secondRange[3];
};

#endif // MODULEFORM_H
