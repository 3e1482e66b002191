#include "app/SettingsDialog.h"

#include <QPixmap>

#include "app/DialogFont.h"
#include "app/MainWindow.h"
#include "common/Settings.h"
#include "common/Text.h"

namespace gs {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->adjustSize();
    label->move(left, top);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, int left, int top, int width) {
    auto* edit = new QLineEdit(parent);
    edit->setFrame(false);  // flat
    edit->setGeometry(left, top, width, 21);
    return edit;
}

QCheckBox* MakeCheck(QWidget* parent, int left, int top) {
    auto* box = new QCheckBox(parent);
    box->setGeometry(left, top, 17, 17);
    return box;
}

}  // namespace

SettingsDialog::SettingsDialog(Settings& settings, MainWindow* mainWindow, QWidget* parent)
    : QDialog(parent), settings_(settings), mainWindow_(mainWindow) {
    setWindowTitle("Settings");
    setFont(DialogFont());
    setFixedSize(596, 195);
    setModal(true);

    background = new QLabel(this);
    background->setGeometry(0, 0, 633, 201);
    background->setPixmap(QPixmap("settings_picture.bmp"));

    ipLabel = MakeLabel(this, "Server IP:", 16, 28);
    IPEdit = MakeEdit(this, 104, 24, 121);
    portLabel = MakeLabel(this, "InSim Port:", 16, 60);
    PortEdit = MakeEdit(this, 104, 56, 121);
    passwordLabel = MakeLabel(this, "Admin Password:", 16, 92);
    PWEdit = MakeEdit(this, 104, 88, 121);
    iconSizeLabel = MakeLabel(this, "Player Icon Size:", 248, 28);
    SizeEdit = MakeEdit(this, 336, 24, 33);
    fpsLabel = MakeLabel(this, "Desired FPS:", 248, 56);
    FpsEdit = MakeEdit(this, 336, 52, 33);
    ShowNamesCheck = MakeCheck(this, 424, 28);
    showNamesLabel = MakeLabel(this, "Show Driver Names", 448, 28);
    ShowSpeedCheck = MakeCheck(this, 424, 44);
    showSpeedLabel = MakeLabel(this, "ShowDriver Speed", 448, 44);
    InterpCheck = MakeCheck(this, 424, 60);
    smoothLabel = MakeLabel(this, "Smooth Movement", 448, 60);
    UseKmhCheck = MakeCheck(this, 424, 76);
    kmhLabel = MakeLabel(this, "Use Km/h For Speed Display", 448, 76);
    OnTopCheck = MakeCheck(this, 424, 92);
    onTopLabel = MakeLabel(this, "Always Stay On Top", 448, 92);
    OnTopCheck->setEnabled(false);
    onTopLabel->setEnabled(false);

    okButton = new QPushButton("OK", this);
    okButton->setGeometry(216, 152, 75, 25);
    okButton->setDefault(true);
    cancelButton = new QPushButton("Cancel", this);
    cancelButton->setGeometry(312, 152, 75, 25);
    connect(okButton, &QPushButton::clicked, this, [this] { OnOkClick(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { OnCancelClick(); });

    // Tab order: OK, Cancel, the three edits, the five boxes, size, frames.
    QWidget* order[] = {okButton,       cancelButton, IPEdit,      PortEdit,   PWEdit,   ShowNamesCheck,
                        ShowSpeedCheck, InterpCheck,  UseKmhCheck, OnTopCheck, SizeEdit, FpsEdit};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

int SettingsDialog::ConvertOr(const QString& text, int fallback) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : fallback;
}

void SettingsDialog::showEvent(QShowEvent* event) {
    LoadFields();
    QDialog::showEvent(event);
}

void SettingsDialog::LoadFields() {
    SettingsAccepted = false;
    ShowNamesCheck->setChecked(settings_.ShowNames != 0);
    ShowSpeedCheck->setChecked(settings_.ShowSpeed != 0);
    UseKmhCheck->setChecked(settings_.UseKmh != 0);
    InterpCheck->setChecked(settings_.SmoothMovement != 0);
    OnTopCheck->setChecked(settings_.AlwaysOnTop != 0);
    SizeEdit->setText(QString::number(settings_.IconSize));
    FpsEdit->setText(QString::number(settings_.DesiredFps));
    IPEdit->setText(QString::fromStdString(settings_.ServerIP));
    PortEdit->setText(QString::number(settings_.InSimPort));
    PWEdit->setText(QString::fromStdString(settings_.AdminPassword));
}

void SettingsDialog::OnOkClick() {
    SettingsAccepted = true;
    accept();
}

void SettingsDialog::OnCancelClick() {
    SettingsAccepted = false;
    reject();
}

// Every way of closing (OK, Cancel, the close box, Escape) comes here.
void SettingsDialog::done(int result) {
    StoreFields();
    QDialog::done(result);
}

void SettingsDialog::StoreFields() {
    if (!SettingsAccepted) return;
    settings_.ShowNames = ShowNamesCheck->isChecked() ? 1 : 0;
    settings_.ShowSpeed = ShowSpeedCheck->isChecked() ? 1 : 0;
    settings_.UseKmh = UseKmhCheck->isChecked() ? 1 : 0;
    settings_.SmoothMovement = InterpCheck->isChecked() ? 1 : 0;
    settings_.AlwaysOnTop = OnTopCheck->isChecked() ? 1 : 0;
    settings_.IconSize = ConvertOr(SizeEdit->text(), 2);
    settings_.DesiredFps = ConvertOr(FpsEdit->text(), 20);
    settings_.ServerIP = TrimBlanks(IPEdit->text().toStdString());
    settings_.InSimPort = ConvertOr(PortEdit->text(), 10000);
    settings_.AdminPassword = PWEdit->text().toStdString();
    if (mainWindow_) mainWindow_->SetStayOnTop(settings_.AlwaysOnTop == 1);
}

}  // namespace gs
