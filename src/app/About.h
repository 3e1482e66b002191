// The about box `TAbout`: name, version and credits over a picture; a click
// anywhere on it closes it.
#pragma once

#include <QDialog>
#include <QLabel>

namespace gs {

class TAbout final : public QDialog {
public:
    explicit TAbout(QWidget* parent = nullptr);

    QLabel* Image1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8;

    // Every control's click handler: close the box.
    void ControlClick() { accept(); }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace gs
