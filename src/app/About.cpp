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

TAbout::TAbout(QWidget* parent) : QDialog(parent) {
    setWindowTitle("About Gridscope");
    // A single fixed border with no title-bar buttons at all.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(242, 178);
    setModal(true);

    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 242, 178);
    Image1->setPixmap(QPixmap("about_picture.bmp"));
    Image1->setAttribute(Qt::WA_TransparentForMouseEvents);

    setFont(DialogFont());
    Label1 = MakeLabel(this, "Gridscope", 8, 233);
    Label2 = MakeLabel(this, "Version 2.02", 24, 233);
    Label3 = MakeLabel(this, "Written by the Gridscope team", 40, 233);
    Label4 = MakeLabel(this, "Special Thanks to:", 64, 233);
    Label5 = MakeLabel(this, "the track generator's surveyors", 80, 233);
    Label8 = MakeLabel(this, "the race server's test drivers", 96, 241);
    Label6 = MakeLabel(this, "everyone who watched the demo", 112, 233);
    Label7 = MakeLabel(this, "https://gridscope.example/", 136, 233);
}

void TAbout::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) ControlClick();
}

}  // namespace gs
