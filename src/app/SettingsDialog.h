// The settings dialog `TSettings`: edits the ten settings, copying them in
// each time it opens and back only when it is left with OK.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gs {

struct Settings;
class TForm1;

class TSettings final : public QDialog {
public:
    TSettings(Settings& settings, TForm1* mainWindow, QWidget* parent = nullptr);

    bool SettingsAccepted = false;

    QLabel* Image1;
    QLineEdit *IPEdit, *PortEdit, *PWEdit, *SizeEdit, *FpsEdit;
    QCheckBox *ShowNamesCheck, *ShowSpeedCheck, *InterpCheck, *UseKmhCheck, *OnTopCheck;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10;
    QPushButton *Button1, *Button2;

    void FormShow();
    void FormClose();
    void Button1Click();
    void Button2Click();

    // The text as a signed 32-bit decimal integer, or `fallback`.
    static int ConvertOr(const QString& text, int fallback);

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    Settings& settings_;
    TForm1* mainWindow_;
};

}  // namespace gs
