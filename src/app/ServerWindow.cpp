#include "app/ServerWindow.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app/DialogFont.h"
#include "common/Text.h"
#include "connection/Connection.h"
#include "connection/ServerList.h"

namespace gs {

namespace {
constexpr int RowHeight = 16;
// More rows than this (header included) need the vertical scroll bar, which
// takes 18 pixels from the first column.
constexpr int RowsThatFit = 15;
}  // namespace

ServerWindow::ServerWindow(Connection& connection, ServerList& servers, QWidget* parent)
    : QDialog(parent), connection_(connection), servers_(servers) {
    setWindowTitle("ServerWindow");
    setFont(DialogFont());
    // A dialog border without any title-bar button: only its own buttons
    // leave it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(474, 290);
    setModal(false);

    serverGrid = new QTableWidget(this);
    serverGrid->setGeometry(0, 0, 473, 257);
    serverGrid->setColumnCount(3);
    serverGrid->setHorizontalHeaderLabels({"Servername", "Players", "Passwd"});
    serverGrid->verticalHeader()->hide();
    serverGrid->verticalHeader()->setDefaultSectionSize(RowHeight);
    serverGrid->verticalHeader()->setMinimumSectionSize(RowHeight);
    serverGrid->horizontalHeader()->setFixedHeight(RowHeight + 2);
    // Header captions sit at the cells' left, as the rows' texts do, with the
    // grid's 2-pixel inset: "Passwd" needs nearly all of its 40 pixels.
    serverGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    serverGrid->horizontalHeader()->setStyleSheet("QHeaderView::section { padding: 0px 0px 0px 2px; }");
    // A selected row would turn every caption bold, and wider than its cell.
    serverGrid->horizontalHeader()->setHighlightSections(false);
    serverGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    serverGrid->setShowGrid(false);
    serverGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    serverGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    serverGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    serverGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A double click anywhere in the grid spectates, the empty area below
    // the last row included, so it is taken from the grid's viewport.
    serverGrid->viewport()->installEventFilter(this);
    connect(serverGrid->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
            [this] { OnServerGridDoubleClick(); });

    spectateButton = new QPushButton("Spectate", this);
    spectateButton->setGeometry(0, 264, 75, 25);
    refreshButton = new QPushButton("Refresh", this);
    refreshButton->setGeometry(80, 264, 75, 25);
    closeButton = new QPushButton("Close", this);
    closeButton->setGeometry(160, 264, 75, 25);
    passwordLabel = new QLabel("Spectator Password:", this);
    passwordLabel->adjustSize();
    passwordLabel->move(248, 268);
    passwordEdit = new QLineEdit(this);
    passwordEdit->setFrame(false);
    passwordEdit->setGeometry(352, 264, 121, 19);
    connect(spectateButton, &QPushButton::clicked, this, [this] { OnSpectateClick(); });
    connect(refreshButton, &QPushButton::clicked, this, [this] { OnRefreshClick(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { OnCloseClick(); });
    setTabOrder(spectateButton, refreshButton);
    setTabOrder(refreshButton, closeButton);
    setTabOrder(closeButton, passwordEdit);
    setTabOrder(passwordEdit, serverGrid);

    FillGrid();
}

void ServerWindow::FillGrid() {
    const int received = std::clamp(servers_.received, 0, ServerList::Capacity);
    const int rows = std::max(received + 1, 2);
    serverGrid->setRowCount(rows - 1);
    serverGrid->setColumnWidth(0, rows > RowsThatFit ? 340 : 358);
    serverGrid->setColumnWidth(1, 70);
    serverGrid->setColumnWidth(2, 40);
    // Items are kept and only a changed text is stored: the list arrives in
    // chunks and the grid is refilled after each, mostly with the same rows.
    auto put = [this](int row, int column, const QString& text) {
        QTableWidgetItem* item = serverGrid->item(row, column);
        if (!item) serverGrid->setItem(row, column, item = new QTableWidgetItem);
        if (item->text() != text) item->setText(text);
    };
    for (int i = 0; i < received; ++i) {
        const std::string name = StripColourCodes(servers_.names[i], ServerList::NameWidth);
        put(i, 0, QString::fromStdString(Windows1252ToUtf8(name)));
        put(i, 1, QString::number(servers_.players[i]));
        put(i, 2, (servers_.flags[i] & 1) ? "p" : "");
    }
    if (serverGrid->currentRow() < 0) serverGrid->setCurrentCell(0, 0);
}

int ServerWindow::SelectedRow() const {
    const QList<QTableWidgetSelectionRange> ranges = serverGrid->selectedRanges();
    int top = ranges.isEmpty() ? serverGrid->currentRow() : ranges.first().topRow();
    for (const QTableWidgetSelectionRange& r : ranges) top = std::min(top, r.topRow());
    return std::max(top, 0) + 1;
}

QString ServerWindow::Cell(int column, int row) const {
    if (row == 0) return serverGrid->horizontalHeaderItem(column)->text();
    const QTableWidgetItem* item = serverGrid->item(row - 1, column);
    return item ? item->text() : QString();
}

bool ServerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == serverGrid->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        OnServerGridDoubleClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void ServerWindow::OnSpectateClick() {
    if (servers_.received == 0) return;
    // The relay compares the password as the server's code page spells it.
    connection_.Spectate(SelectedRow(), Utf8ToWindows1252(passwordEdit->text().toStdString()));
    hide();
}

void ServerWindow::OnRefreshClick() { connection_.Refresh(); }

void ServerWindow::OnCloseClick() {
    connection_.Disconnect();
    hide();
}

void ServerWindow::keyPressEvent(QKeyEvent* event) {
    // Escape would hide the window without ending the connection: the window
    // is left through its buttons only.
    if (event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
}

}  // namespace gs
