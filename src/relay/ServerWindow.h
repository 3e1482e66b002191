// The server list window `TServerWindow`: the relay's servers in a grid, and
// the buttons to spectate one, refresh the list, or give up.
//
// The grid's row 0 is its header; row r (r >= 1) shows entry r - 1 of the
// server list. It keeps at least one data row, and rows the fill does not
// write keep their old text.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

namespace gs {

class Connection;
struct ServerList;

class TServerWindow final : public QDialog {
public:
    TServerWindow(Connection& connection, ServerList& servers, QWidget* parent = nullptr);

    QTableWidget* StringGrid1;
    QPushButton *Button1, *Button2, *Button3;
    QLabel* Label1;
    QLineEdit* Edit1;

    void FillGrid();
    // The grid's row count, header included (the header is row 0).
    int RowCount() const { return StringGrid1->rowCount() + 1; }
    // The top row of the selection, in grid rows (1 = first server).
    int SelectedRow() const;
    QString Cell(int column, int row) const;

    void Button1Click();
    void StringGrid1DblClick() { Button1Click(); }
    void Button2Click();
    void Button3Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Connection& connection_;
    ServerList& servers_;
};

}  // namespace gs
