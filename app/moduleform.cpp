#include "moduleform.h"
#include "ui_brelkcontrol.h"

#include <algorithm>

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

// Channel A's items, then channel B's.
template <typename Items>
static auto bothChannels(const ModuleForm::Channel (&channels)[2], Items items)
{
    const auto a = items(channels[0]);
    const auto b = items(channels[1]);
    std::vector<typename decltype(a)::value_type> all(a.begin(), a.end());
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

std::vector<QLineEdit *> ModuleForm::tickFields() const
{
    return bothChannels(channels, [](const Channel &channel) { return channel.fields(); });
}

std::vector<QPushButton *> ModuleForm::commandButtons() const
{
    return bothChannels(channels, [](const Channel &channel) { return channel.buttons(); });
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

// The index of the group's checked button; an unchecked group reads as its last option, as the
// form has always read it.
template <std::size_t N> static int checkedIndex(QRadioButton *const (&group)[N])
{
    const auto checked =
        std::find_if(std::begin(group), std::end(group) - 1,
                     [](const QRadioButton *button) { return button->isChecked(); });
    return int(checked - std::begin(group));
}

ResolutionSelection ModuleForm::selection() const
{
    ResolutionSelection selection;
    selection.fineVoltage = !voltage[0]->isChecked();
    selection.currentResolution = CurrentResolution(checkedIndex(current));
    selection.secondRange = SecondRange(checkedIndex(secondRange));
    return selection;
}
