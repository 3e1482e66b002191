// The about box `AboutBox`: name, version and credits over a picture; a click
// anywhere on it closes it.
#pragma once

#include <QDialog>
#include <QLabel>

namespace gs {

class AboutBox final : public QDialog {
public:
    explicit AboutBox(QWidget* parent = nullptr);

    QLabel* background;
    QLabel *nameLabel, *versionLabel, *authorLabel, *thanksLabel, *surveyorsLabel, *viewersLabel, *linkLabel,
        *driversLabel;

    // Every control's click handler: close the box.
    void OnAnyClick() { accept(); }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace gs
