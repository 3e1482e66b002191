// The settings dialog `SettingsDialog`: edits the ten settings, copying them in
// each time it opens and back only when it is left with OK.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gs {

struct Settings;
class MainWindow;

class SettingsDialog final : public QDialog {
public:
    SettingsDialog(Settings& settings, MainWindow* mainWindow, QWidget* parent = nullptr);

    bool SettingsAccepted = false;

    QLabel* background;
    QLineEdit *IPEdit, *PortEdit, *PWEdit, *SizeEdit, *FpsEdit;
    QCheckBox *ShowNamesCheck, *ShowSpeedCheck, *InterpCheck, *UseKmhCheck, *OnTopCheck;
    QLabel *showNamesLabel, *showSpeedLabel, *smoothLabel, *fpsLabel, *ipLabel, *portLabel, *passwordLabel, *kmhLabel,
        *onTopLabel, *iconSizeLabel;
    QPushButton *okButton, *cancelButton;

    void LoadFields();
    void StoreFields();
    void OnOkClick();
    void OnCancelClick();

    // The text as a signed 32-bit decimal integer, or `fallback`.
    static int ConvertOr(const QString& text, int fallback);

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    Settings& settings_;
    MainWindow* mainWindow_;
};

}  // namespace gs
