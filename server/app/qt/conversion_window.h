#pragma once

// The conversion window: the jobs of the server's conversion queue with their status
// and progress, sortable by any column; files dropped on it become jobs. It is a
// view: the queue converts, and each change the queue reports becomes a notice at
// the window's index (3) that makes the window read the rows again.
//
// Threads: the queue reports on its own threads; PostConversionChange hands the
// notice to the GUI thread through the window registry, where the rows are read.

#include "conversion_queue.h"
#include "skin/qt/frame_binding.h"

#include <QAbstractTableModel>
#include <QWidget>
#include <memory>

class ConversionContext;
class QSortFilterProxyModel;
class QTableView;
class TextTable;

class CConversionModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CConversionModel(const TextTable& texts);
    enum Column { kColumnFile, kColumnFolder, kColumnProgress, kColumnStatus, kColumnCount };
    void SetRows(std::vector<ConversionRow> rows);
    const ConversionRow* RowAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const TextTable& m_texts;
    std::vector<ConversionRow> m_rows;
};

// The status text key of a job state.
const char* ConversionStateTextKey(int state);

// Posts a change of the queue to the conversion window (window index 3); any thread.
void PostConversionChange(ConversionChange change, const ConvertInfo_t& job);

class CConversionWindow : public QWidget {
    Q_OBJECT
public:
    // The jobs of server's queue, which outlives the window.
    explicit CConversionWindow(ConversionContext& server, QWidget* parent = nullptr);
    ~CConversionWindow() override;

    void Refresh();
    // Queues every local file of a drop; returns how many became jobs.
    int DropFiles(const QList<QUrl>& urls);
    // A drop's data: its file list becomes jobs; data without one is ignored.
    int HandleDrop(const QMimeData& data);
    void CancelSelected();
    void RemoveCompleted();
    // Toggles the sort of a column as a header click does.
    void SortByColumn(int column);

    QTableView* View() const { return m_view; }
    CConversionModel* Model() const { return m_model; }
    QSortFilterProxyModel* SortModel() const { return m_sort; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    veneta::LResult OnFrameMessage(
        veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam);

    ConversionContext& m_server;
    CConversionModel* m_model;
    QSortFilterProxyModel* m_sort;
    QTableView* m_view;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    std::unique_ptr<veneta::CFrameBinding> m_frame;
};
