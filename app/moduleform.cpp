#include "moduleform.h"
#include "ui_brelkcontrol.h"

using namespace Brelk;

ModuleForm::ModuleForm(Ui::BrelkControl *ui)
    : channels{{ui->txtVset_A, ui->txtRamp_A, ui->txtVmeas_A, ui->txtImeas_A, ui->txtImeas2_A,
                ui->txtStatus_A, ui->txtPolarity_A, ui->txtKill_A, ui->txtHVON_A, ui->txtStatus2_A,
                ui->txtLimitV_A, ui->txtLimitI_A, ui->txtSoftLimitI_A, ui->txtSoftLimitI2_A,
                ui->btnClearStatus2_A, ui->btnSetVset_A, ui->btnSetRamp_A, ui->btnSetSoftLimitI_A,
                ui->btnSetSoftLimitI2_A},
               {ui->txtVset_B, ui->txtRamp_B, ui->txtVmeas_B, ui->txtImeas_B, ui->txtImeas2_B,
                ui->txtStatus_B, ui->txtPolarity_B, ui->txtKill_B, ui->txtHVON_B, ui->txtStatus2_B,
                ui->txtLimitV_B, ui->txtLimitI_B, ui->txtSoftLimitI_B, ui->txtSoftLimitI2_B,
                ui->btnClearStatus2_B, ui->btnSetVset_B, ui->btnSetRamp_B, ui->btnSetSoftLimitI_B,
                ui->btnSetSoftLimitI2_B}},
      voltage{ui->chk_U_1V, ui->chk_U_100mV}, current{ui->chk_I_1uA, ui->chk_I_100nA,
                                                      ui->chk_I_10nA, ui->chk_I_1nA},
      secondRange{ui->chk_I2_None, ui->chk_I2_1nA, ui->chk_I2_100pA}
{
}

std::array<QLineEdit *, 14> ModuleForm::Channel::fields() const
{
    return {vset, ramp, vmeas,   imeas,  imeas2, status,     polarity,
            kill, hvOn, status2, limitV, limitI, softLimitI, softLimitI2};
}

std::array<QPushButton *, 5> ModuleForm::Channel::buttons() const
{
    return {clearStatus2, setVset, setRamp, setSoftLimitI, setSoftLimitI2};
}

std::vector<QLineEdit *> ModuleForm::tickFields() const
{
    std::vector<QLineEdit *> all;
    for (const Channel &channel : channels) {
        const auto fields = channel.fields();
        all.insert(all.end(), fields.begin(), fields.end());
    }
    return all;
}

std::vector<QPushButton *> ModuleForm::commandButtons() const
{
    std::vector<QPushButton *> all;
    for (const Channel &channel : channels) {
        const auto buttons = channel.buttons();
        all.insert(all.end(), buttons.begin(), buttons.end());
    }
    return all;
}

std::vector<QRadioButton *> ModuleForm::resolutionButtons() const
{
    std::vector<QRadioButton *> all(std::begin(voltage), std::end(voltage));
    all.insert(all.end(), std::begin(current), std::end(current));
    all.insert(all.end(), std::begin(secondRange), std::end(secondRange));
    return all;
}

std::array<QRadioButton *, 3> ModuleForm::buttonsOf(const ResolutionSelection &selection) const
{
    return {voltage[selection.fineVoltage ? 1 : 0], current[int(selection.currentResolution)],
            secondRange[int(selection.secondRange)]};
}

ResolutionSelection ModuleForm::selection() const
{
    ResolutionSelection selection;
    selection.fineVoltage = !voltage[0]->isChecked();
    // An unchecked group reads as its last option, as the form has always read it.
    int currentIndex = 3;
    for (int i = 0; i < 3; ++i) {
        if (current[i]->isChecked()) {
            currentIndex = i;
            break;
        }
    }
    selection.currentResolution = CurrentResolution(currentIndex);
    int rangeIndex = 2;
    for (int i = 0; i < 2; ++i) {
        if (secondRange[i]->isChecked()) {
            rangeIndex = i;
            break;
        }
    }
    selection.secondRange = SecondRange(rangeIndex);
    return selection;
}
