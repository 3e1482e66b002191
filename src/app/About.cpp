#include "app/About.h"

#include "app/DialogFont.h"

#include <QMouseEvent>
#include <QPixmap>

namespace gs {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* text, int top, int width) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(0, top, width, 13);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setAttribute(Qt::WA_TranslucentBackground);
    // Clicks fall through to the box, which closes on any of them.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

}  // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle("About Gridscope");
    // A single fixed border with no title-bar buttons at all.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(242, 178);
    setModal(true);

    background = new QLabel(this);
    background->setGeometry(0, 0, 242, 178);
    background->setPixmap(QPixmap("about_picture.bmp"));
    background->setAttribute(Qt::WA_TransparentForMouseEvents);

    setFont(DialogFont());
    nameLabel = MakeLabel(this, "Gridscope", 8, 233);
    versionLabel = MakeLabel(this, "Version 2.02", 24, 233);
    authorLabel = MakeLabel(this, "Written by the Gridscope team", 40, 233);
    thanksLabel = MakeLabel(this, "Special Thanks to:", 64, 233);
    surveyorsLabel = MakeLabel(this, "the track generator's surveyors", 80, 233);
    driversLabel = MakeLabel(this, "the race server's test drivers", 96, 241);
    viewersLabel = MakeLabel(this, "everyone who watched the demo", 112, 233);
    linkLabel = MakeLabel(this, "https://gridscope.example/", 136, 233);
}

void AboutBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) OnAnyClick();
}

}  // namespace gs
