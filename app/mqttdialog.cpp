#include "mqttdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace Brelk {

MqttDialog::MqttDialog(QWidget *parent, Purpose purpose) : QDialog(parent), purpose(purpose)
{
    const bool attaching = purpose == Purpose::Attaching;
    setObjectName(QLatin1String(attaching ? "AttachDialog" : "MqttDialog"));
    setWindowTitle(attaching ? tr("Attach to Services") : tr("MQTT Publishing"));

    host = new QLineEdit(this);
    host->setObjectName(QStringLiteral("txtMqttHost"));
    host->setPlaceholderText(tr("empty: publishing off"));
    port = new QSpinBox(this);
    port->setObjectName(QStringLiteral("spnMqttPort"));
    port->setRange(1, 65535);
    port->setValue(MqttSettings::DefaultPort);
    topic = new QLineEdit(this);
    topic->setObjectName(QStringLiteral("txtMqttTopic"));
    user = new QLineEdit(this);
    user->setObjectName(QStringLiteral("txtMqttUser"));
    password = new QLineEdit(this);
    password->setObjectName(QStringLiteral("txtMqttPassword"));
    password->setEchoMode(QLineEdit::Password);
    rememberPassword = new QCheckBox(tr("Remember password"), this);
    rememberPassword->setObjectName(QStringLiteral("chkMqttRememberPassword"));
    useTls = new QCheckBox(tr("Use TLS"), this);
    useTls->setObjectName(QStringLiteral("chkMqttTls"));
    caFile = new QLineEdit(this);
    caFile->setObjectName(QStringLiteral("txtMqttCaFile"));
    auto *browse = new QPushButton(tr("Browse..."), this);
    browse->setObjectName(QStringLiteral("btnMqttCaFile"));
    auto *caRow = new QHBoxLayout;
    caRow->addWidget(caFile);
    caRow->addWidget(browse);
    state = new QLabel(this);
    state->setObjectName(QStringLiteral("lblMqttState"));
    state->setWordWrap(true);
    // Errors may quote a prefix or a topic from the settings file.
    state->setTextFormat(Qt::PlainText);
    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("lblMqttProblem"));
    problem->setTextFormat(Qt::PlainText);

    auto *form = new QFormLayout;
    if (attaching) {
        attachToServices =
            new QCheckBox(tr("Attach to the crates' services through the broker"), this);
        attachToServices->setObjectName(QStringLiteral("chkAttach"));
        host->setPlaceholderText(QString());
        topic->setObjectName(QStringLiteral("txtAttachFilter"));
        form->addRow(QString(), attachToServices);
    }
    form->addRow(tr("Broker host:"), host);
    form->addRow(tr("Port:"), port);
    form->addRow(attaching ? tr("Services (topic filter):") : tr("Topic prefix:"), topic);
    if (attaching) {
        mainModule = new QLineEdit(this);
        mainModule->setObjectName(QStringLiteral("txtAttachModule"));
        mainModule->setPlaceholderText(tr("the first module found"));
        form->addRow(tr("Main window shows:"), mainModule);
    }
    form->addRow(tr("User name:"), user);
    form->addRow(tr("Password:"), password);
    form->addRow(QString(), rememberPassword);
    form->addRow(QString(), useTls);
    form->addRow(tr("CA file:"), caRow);
    if (attaching)
        state->hide();
    else
        form->addRow(tr("State:"), state);

    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, &MqttDialog::browseCaFile);
    for (QLineEdit *edit : {host, topic, caFile})
        connect(edit, &QLineEdit::textChanged, this, &MqttDialog::updateEnabled);
    connect(useTls, &QCheckBox::toggled, this, &MqttDialog::updateEnabled);
    if (attachToServices)
        connect(attachToServices, &QCheckBox::toggled, this, &MqttDialog::updateEnabled);
    updateEnabled();
}

void MqttDialog::setSettings(const MqttSettings &mqtt)
{
    host->setText(mqtt.host);
    port->setValue(mqtt.port);
    topic->setText(mqtt.topic);
    user->setText(mqtt.user);
    password->setText(mqtt.password);
    rememberPassword->setChecked(mqtt.rememberPassword);
    useTls->setChecked(!mqtt.caFile.isEmpty());
    caFile->setText(mqtt.caFile);
    updateEnabled();
}

MqttSettings MqttDialog::settings() const
{
    MqttSettings mqtt;
    mqtt.host = host->text().trimmed();
    mqtt.port = port->value();
    mqtt.topic = normalizedMqttTopic(topic->text());
    mqtt.user = user->text();
    mqtt.password = password->text();
    mqtt.rememberPassword = rememberPassword->isChecked();
    mqtt.caFile = useTls->isChecked() ? caFile->text().trimmed() : QString();
    return mqtt;
}

void MqttDialog::setState(const QString &stateText, const QString &error)
{
    state->setText(error.isEmpty() ? stateText : tr("%1\nLast error: %2").arg(stateText, error));
}

// OK is offered only for settings that can be published with: a usable prefix when a host is
// given, and a CA file when TLS is on.
void MqttDialog::updateEnabled()
{
    caFile->setEnabled(useTls->isChecked());
    QString why;
    if (purpose == Purpose::Attaching) {
        if (attachToServices->isChecked() && host->text().trimmed().isEmpty())
            why = tr("Attaching needs the broker's host");
        else
            why = mqttFilterProblem(normalizedMqttTopic(topic->text()));
        if (why.isEmpty() && useTls->isChecked() && caFile->text().trimmed().isEmpty())
            why = tr("TLS needs the CA file that signed the broker's certificate");
    } else if (!host->text().trimmed().isEmpty()) {
        why = mqttTopicProblem(normalizedMqttTopic(topic->text()));
        if (why.isEmpty() && useTls->isChecked() && caFile->text().trimmed().isEmpty())
            why = tr("TLS needs the CA file that signed the broker's certificate");
    }
    problem->setText(why);
    problem->setVisible(!why.isEmpty());
    buttons->button(QDialogButtonBox::Ok)->setEnabled(why.isEmpty());
}

void MqttDialog::setAttach(const AttachSettings &attach)
{
    attachToServices->setChecked(attach.attached);
    topic->setText(attach.filter);
    mainModule->setText(attach.module);
    updateEnabled();
}

AttachSettings MqttDialog::attach() const
{
    AttachSettings chosen;
    chosen.attached = attachToServices->isChecked();
    chosen.filter = normalizedMqttTopic(topic->text());
    chosen.module = normalizedMqttTopic(mainModule->text());
    return chosen;
}

bool askAttachSettings(QWidget *parent, AttachSettings *attach, MqttSettings *broker)
{
    MqttDialog dialog(parent, MqttDialog::Purpose::Attaching);
    dialog.setSettings(*broker);
    dialog.setAttach(*attach);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QString prefix = broker->topic;
    *broker = dialog.settings();
    // The field held the filter: the publishing prefix stays.
    broker->topic = prefix;
    *attach = dialog.attach();
    return true;
}

void MqttDialog::browseCaFile()
{
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("CA file"), caFile->text(), tr("Certificates (*.pem *.crt);;All files (*)"));
    if (!chosen.isEmpty())
        caFile->setText(chosen);
}

} // namespace Brelk
