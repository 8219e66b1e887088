#include "ui/mainwindow.h"

#include "ui/settings.h"
#include "ui_mainwindow.h"

namespace {

// The serial field's text as the settings store it: UTF-8, so any text comes back as it was typed.
QByteArray serialBytes(const QString &text)
{
    return text.toUtf8();
}

QString serialText(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    // A hand-written file may hold Latin-1: bytes that are no UTF-8 are read that way.
    return text.toUtf8() == bytes ? text : QString::fromLatin1(bytes);
}

} // namespace

// Qt names the registration function after the .qrc file; it must be outside any namespace.
static void initPictures()
{
    // A static library keeps its resources only if something references them.
    Q_INIT_RESOURCE(resources);
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), m_ui(new Ui_MainWindow)
{
    static const bool picturesReady = (initPictures(), true);
    Q_UNUSED(picturesReady);

    m_ui->setupUi(this);
    // The form leaves the number to the build, so the About tab shows the version the library has.
    m_ui->label_7->setText(m_ui->label_7->text().arg(QStringLiteral(TARNIX_VERSION)));

    // A switch reaches the receiver (through the command object) before it is stored.
    connect(m_ui->chbUseLpf, SIGNAL(toggled(bool)), this, SIGNAL(changedLpf(bool)));
    connect(m_ui->chbUseAtt, SIGNAL(toggled(bool)), this, SIGNAL(changedAtt(bool)));
    connect(m_ui->chbUseLpf, SIGNAL(toggled(bool)), this, SLOT(setLpf(bool)));
    connect(m_ui->chbUseAtt, SIGNAL(toggled(bool)), this, SLOT(setAtt(bool)));
    connect(m_ui->pbInfo, SIGNAL(clicked()), this, SIGNAL(info()));
    connect(m_ui->pbSearch, SIGNAL(clicked()), this, SIGNAL(search()));

    // Loaded after the connections, so stored switch states that differ from the form's
    // defaults are announced (and stored again) like a click.
    Settings *settings = Settings::instance();
    m_ui->cbSampleRate->setCurrentIndex(settings->sampleRateId());
    m_ui->leSerial->setText(serialText(settings->serial()));
    m_ui->chbUseAtt->setChecked(settings->useAtt());
    m_ui->chbUseLpf->setChecked(settings->useLpf());

    m_sampleRateHz = m_ui->cbSampleRate->currentText().toInt();
}

MainWindow::~MainWindow()
{
    Settings *settings = Settings::instance();
    settings->setUseAtt(m_ui->chbUseAtt->isChecked());
    settings->setUseLpf(m_ui->chbUseLpf->isChecked());
    settings->setSerial(serialBytes(m_ui->leSerial->text()));
    delete m_ui;
}

int MainWindow::sampleRateCode() const
{
    return m_ui->cbSampleRate->currentIndex() + 1;
}

int MainWindow::currentSampleRate() const
{
    return m_sampleRateHz;
}

Receiver MainWindow::currentReceiver() const
{
    Receiver r;
    r.flag = false;
    r.address = QHostAddress(m_ui->leIPaddress->text());
    r.port = quint16(m_ui->sbPort->value());
    r.serial = m_ui->leSerial->text();
    return r;
}

void MainWindow::setReceiver(const Receiver &r)
{
    m_ui->leIPaddress->setText(r.address.toString());
    m_ui->sbPort->setValue(r.port);
    m_ui->leSerial->setText(r.serial);
    Settings::instance()->setSerial(serialBytes(r.serial));
}

void MainWindow::setConnected()
{
    setConnectionFieldsEnabled(false);
    emit changedLpf(m_ui->chbUseLpf->isChecked());
    emit changedAtt(m_ui->chbUseAtt->isChecked());
}

void MainWindow::setDisconnected()
{
    setConnectionFieldsEnabled(true);
}

void MainWindow::setConnectionFieldsEnabled(bool enabled)
{
    m_ui->leIPaddress->setEnabled(enabled);
    m_ui->sbPort->setEnabled(enabled);
    m_ui->leSerial->setEnabled(enabled);
    m_ui->pbSearch->setEnabled(enabled);
}

void MainWindow::setActiveWindow()
{
    activateWindow();
}

void MainWindow::setLpf(bool on)
{
    // The check box is the truth; the argument always equals it.
    Q_UNUSED(on);
    Settings::instance()->setUseLpf(m_ui->chbUseLpf->isChecked());
}

void MainWindow::setAtt(bool on)
{
    Q_UNUSED(on);
    Settings::instance()->setUseAtt(m_ui->chbUseAtt->isChecked());
}
