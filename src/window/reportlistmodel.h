#pragma once

#include "reportlist/reportlist.h"

#include <QAbstractTableModel>

#include <functional>

namespace orvantis {

// Shows a ReportList to Qt's item views. The list tells of every change; the model gathers
// them and resets the view once, either when flush() is called (at the end of a scan or sort)
// or when control returns to the event loop, so that 100,000 added rows cost one reset.
class ReportListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit ReportListModel(ReportList &list, QObject *parent = nullptr);
    ~ReportListModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Brings the view up to date with the list now.
    void flush();

    // What a cell's tooltip says; none when empty.
    using ToolTips = std::function<QString(int row, int column)>;
    void setToolTips(ToolTips toolTips) { toolTips_ = std::move(toolTips); }

signals:
    void visibleChanged(bool visible);

private:
    void listChanged(ReportList::Change change);

    ReportList &list_;
    ToolTips toolTips_;
    int shownRows_ = 0; // the rows the view knows of until the next reset
    bool pending_ = false;
};

} // namespace orvantis
