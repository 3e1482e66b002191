#include "app/SettingsDialog.h"

#include <QPixmap>

#include "app/DialogFont.h"
#include "app/MainWindow.h"
#include "app/Settings.h"
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

TSettings::TSettings(Settings& settings, TForm1* mainWindow, QWidget* parent)
    : QDialog(parent), settings_(settings), mainWindow_(mainWindow) {
    setWindowTitle("Settings");
    setFont(DialogFont());
    setFixedSize(596, 195);
    setModal(true);

    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 633, 201);
    Image1->setPixmap(QPixmap("settings_picture.bmp"));

    Label5 = MakeLabel(this, "Server IP:", 16, 28);
    IPEdit = MakeEdit(this, 104, 24, 121);
    Label6 = MakeLabel(this, "InSim Port:", 16, 60);
    PortEdit = MakeEdit(this, 104, 56, 121);
    Label7 = MakeLabel(this, "Admin Password:", 16, 92);
    PWEdit = MakeEdit(this, 104, 88, 121);
    Label10 = MakeLabel(this, "Player Icon Size:", 248, 28);
    SizeEdit = MakeEdit(this, 336, 24, 33);
    Label4 = MakeLabel(this, "Desired FPS:", 248, 56);
    FpsEdit = MakeEdit(this, 336, 52, 33);
    ShowNamesCheck = MakeCheck(this, 424, 28);
    Label1 = MakeLabel(this, "Show Driver Names", 448, 28);
    ShowSpeedCheck = MakeCheck(this, 424, 44);
    Label2 = MakeLabel(this, "ShowDriver Speed", 448, 44);
    InterpCheck = MakeCheck(this, 424, 60);
    Label3 = MakeLabel(this, "Smooth Movement", 448, 60);
    UseKmhCheck = MakeCheck(this, 424, 76);
    Label8 = MakeLabel(this, "Use Km/h For Speed Display", 448, 76);
    OnTopCheck = MakeCheck(this, 424, 92);
    Label9 = MakeLabel(this, "Always Stay On Top", 448, 92);
    OnTopCheck->setEnabled(false);
    Label9->setEnabled(false);

    Button1 = new QPushButton("OK", this);
    Button1->setGeometry(216, 152, 75, 25);
    Button1->setDefault(true);
    Button2 = new QPushButton("Cancel", this);
    Button2->setGeometry(312, 152, 75, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

    // Tab order: OK, Cancel, the three edits, the five boxes, size, frames.
    QWidget* order[] = {Button1,     Button2,     IPEdit,    PortEdit,   PWEdit,   ShowNamesCheck,
                        ShowSpeedCheck, InterpCheck, UseKmhCheck, OnTopCheck, SizeEdit, FpsEdit};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

int TSettings::ConvertOr(const QString& text, int fallback) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : fallback;
}

void TSettings::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TSettings::FormShow() {
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

void TSettings::Button1Click() {
    SettingsAccepted = true;
    accept();
}

void TSettings::Button2Click() {
    SettingsAccepted = false;
    reject();
}

// Every way of closing (OK, Cancel, the close box, Escape) comes here.
void TSettings::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TSettings::FormClose() {
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
