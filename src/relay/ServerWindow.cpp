#include "relay/ServerWindow.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app/DialogFont.h"
#include "common/Text.h"
#include "connection/Connection.h"
#include "relay/ServerList.h"

namespace gs {

namespace {
constexpr int RowHeight = 16;
// More rows than this (header included) need the vertical scroll bar, which
// takes 18 pixels from the first column.
constexpr int RowsThatFit = 15;
}  // namespace

TServerWindow::TServerWindow(Connection& connection, ServerList& servers, QWidget* parent)
    : QDialog(parent), connection_(connection), servers_(servers) {
    setWindowTitle("ServerWindow");
    setFont(DialogFont());
    // A dialog border without any title-bar button: only its own buttons
    // leave it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(474, 290);
    setModal(false);

    StringGrid1 = new QTableWidget(this);
    StringGrid1->setGeometry(0, 0, 473, 257);
    StringGrid1->setColumnCount(3);
    StringGrid1->setHorizontalHeaderLabels({"Servername", "Players", "Passwd"});
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setDefaultSectionSize(RowHeight);
    StringGrid1->verticalHeader()->setMinimumSectionSize(RowHeight);
    StringGrid1->horizontalHeader()->setFixedHeight(RowHeight + 2);
    // Header captions sit at the cells' left, as the rows' texts do, with the
    // grid's 2-pixel inset: "Passwd" needs nearly all of its 40 pixels.
    StringGrid1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StringGrid1->horizontalHeader()->setStyleSheet("QHeaderView::section { padding: 0px 0px 0px 2px; }");
    // A selected row would turn every caption bold, and wider than its cell.
    StringGrid1->horizontalHeader()->setHighlightSections(false);
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    StringGrid1->setShowGrid(false);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A double click anywhere in the grid spectates, the empty area below
    // the last row included, so it is taken from the grid's viewport.
    StringGrid1->viewport()->installEventFilter(this);
    connect(StringGrid1->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
            [this] { StringGrid1DblClick(); });

    Button1 = new QPushButton("Spectate", this);
    Button1->setGeometry(0, 264, 75, 25);
    Button2 = new QPushButton("Refresh", this);
    Button2->setGeometry(80, 264, 75, 25);
    Button3 = new QPushButton("Close", this);
    Button3->setGeometry(160, 264, 75, 25);
    Label1 = new QLabel("Spectator Password:", this);
    Label1->adjustSize();
    Label1->move(248, 268);
    Edit1 = new QLineEdit(this);
    Edit1->setFrame(false);
    Edit1->setGeometry(352, 264, 121, 19);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Edit1);
    setTabOrder(Edit1, StringGrid1);

    FillGrid();
}

void TServerWindow::FillGrid() {
    const int received = std::clamp(servers_.received, 0, ServerList::Capacity);
    const int rows = std::max(received + 1, 2);
    StringGrid1->setRowCount(rows - 1);
    StringGrid1->setColumnWidth(0, rows > RowsThatFit ? 340 : 358);
    StringGrid1->setColumnWidth(1, 70);
    StringGrid1->setColumnWidth(2, 40);
    auto put = [this](int row, int column, const QString& text) {
        QTableWidgetItem* item = StringGrid1->item(row, column);
        if (!item) StringGrid1->setItem(row, column, item = new QTableWidgetItem);
        item->setText(text);
    };
    for (int i = 0; i < received; ++i) {
        const std::string name = StripColourCodes(servers_.names[i], ServerList::NameWidth);
        put(i, 0, QString::fromStdString(Windows1252ToUtf8(name)));
        put(i, 1, QString::number(servers_.players[i]));
        put(i, 2, (servers_.flags[i] & 1) ? "p" : "");
    }
    if (StringGrid1->currentRow() < 0) StringGrid1->setCurrentCell(0, 0);
}

int TServerWindow::SelectedRow() const {
    const QList<QTableWidgetSelectionRange> ranges = StringGrid1->selectedRanges();
    int top = ranges.isEmpty() ? StringGrid1->currentRow() : ranges.first().topRow();
    for (const QTableWidgetSelectionRange& r : ranges) top = std::min(top, r.topRow());
    return std::max(top, 0) + 1;
}

QString TServerWindow::Cell(int column, int row) const {
    if (row == 0) return StringGrid1->horizontalHeaderItem(column)->text();
    const QTableWidgetItem* item = StringGrid1->item(row - 1, column);
    return item ? item->text() : QString();
}

bool TServerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == StringGrid1->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        StringGrid1DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TServerWindow::Button1Click() {
    if (servers_.received == 0) return;
    // The relay compares the password as the server's code page spells it.
    connection_.Spectate(SelectedRow(), Utf8ToWindows1252(Edit1->text().toStdString()));
    hide();
}

void TServerWindow::Button2Click() { connection_.Refresh(); }

void TServerWindow::Button3Click() {
    connection_.Disconnect();
    hide();
}

void TServerWindow::keyPressEvent(QKeyEvent* event) {
    // Escape would hide the window without ending the connection: the window
    // is left through its buttons only.
    if (event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
}

}  // namespace gs
