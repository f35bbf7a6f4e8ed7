#include "conversion_window.h"

#include "app_messages.h"
#include "config/settings.h"
#include "config/trace.h"
#include "conversion/conversion_context.h"
#include "ui_texts.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kCommandCancelSelected = 112;
constexpr int kCommandRemoveCompleted = 113;

QColor StateColour(int state)
{
    switch (state) {
    case kConvertWaiting:
        return QColor(0x00, 0x00, 0x00);
    case kConvertConverting:
        return QColor(0x00, 0x5F, 0x87);
    case kConvertComplete:
        return QColor(0x75, 0x75, 0x75);
    case kConvertFailed:
    case kConvertRemoved:
        return QColor(0xFF, 0x00, 0x00);
    default:
        return QColor(0x33, 0x33, 0x33);
    }
}

// Sorts by the cell texts, trimmed, in ordinal order.
class CTextSortModel : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        QString a = left.data(Qt::DisplayRole).toString().trimmed();
        QString b = right.data(Qt::DisplayRole).toString().trimmed();
        return QString::compare(a, b, Qt::CaseSensitive) < 0;
    }
};

// The progress cell: a bar filled to the job's progress with its percentage over it.
class CProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
        const QModelIndex& index) const override
    {
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(2, 3, -4, -3);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = index.data(Qt::UserRole).toInt();
        bar.text = index.data(Qt::DisplayRole).toString();
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
    }
};

} // namespace

const char* ConversionStateTextKey(int state)
{
    switch (state) {
    case kConvertWaiting:
        return "IDS_WORD_CONV_WAITING";
    case kConvertComplete:
        return "IDS_WORD_CONV_COMPLETE";
    case kConvertConverting:
        return "IDS_WORD_CONV_CONVERTING";
    case kConvertFailed:
        return "IDS_WORD_CONV_FAILED";
    case kConvertRemoved:
        return "IDS_WORD_CONV_CANCELED";
    default:
        return nullptr;
    }
}

void PostConversionChange(ConversionChange change, const ConvertInfo_t& job)
{
    veneta::MessageId message = WM_APP_CONVERSION_PROGRESS;
    switch (change) {
    case ConversionChange::Added:
        message = WM_APP_CONVERSION_ADDED;
        break;
    case ConversionChange::Progress:
        message = WM_APP_CONVERSION_PROGRESS;
        break;
    case ConversionChange::State:
        message = WM_APP_CONVERSION_STATE;
        break;
    case ConversionChange::Deleted:
        message = WM_APP_CONVERSION_DELETED;
        break;
    }
    veneta::CPXFrameMSG::Post(
        veneta::kFrameConversionWindow, message, static_cast<veneta::WParam>(job.nState.load()));
}

CConversionModel::CConversionModel(const TextTable& texts)
    : m_texts(texts)
{
}

void CConversionModel::SetRows(std::vector<ConversionRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

const ConversionRow* CConversionModel::RowAt(int row) const
{
    return row >= 0 && static_cast<size_t>(row) < m_rows.size() ? &m_rows[static_cast<size_t>(row)]
                                                                : nullptr;
}

int CConversionModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CConversionModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CConversionModel::data(const QModelIndex& index, int role) const
{
    const ConversionRow* row = RowAt(index.row());
    if (!row)
        return {};
    if (role == Qt::ForegroundRole)
        return StateColour(row->state);
    if (role == Qt::UserRole)
        return row->progress;
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case kColumnFile:
        return FromUtf8(GetFileNameOf(row->sourcePath));
    case kColumnFolder:
        return FromUtf8(GetFolderOf(row->outputPath));
    case kColumnProgress:
        return QStringLiteral("%1%").arg(row->progress);
    case kColumnStatus: {
        const char* key = ConversionStateTextKey(row->state);
        return key ? UiText(m_texts, key) : QString();
    }
    default:
        return {};
    }
}

QVariant CConversionModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const keys[kColumnCount]
        = { "IDS_WORD_FILENAME", "IDS_WORD_FOLDER", "IDS_WORD_PROGRESS", "IDS_WORD_STATUS" };
    return section >= 0 && section < kColumnCount ? UiText(m_texts, keys[section]) : QVariant();
}

CConversionWindow::CConversionWindow(ConversionContext& server, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_server(server)
    , m_model(new CConversionModel(server.Texts()))
    , m_sort(new CTextSortModel(this))
    , m_view(new QTableView(this))
{
    setObjectName(QStringLiteral("conversionWindow"));
    setWindowTitle(UiText(server.Texts(), "IDS_WORD_CONVERSION_DLG"));
    setAcceptDrops(true);
    m_model->setParent(this);
    m_sort->setSourceModel(m_model);
    m_view->setModel(m_sort);
    m_view->setItemDelegateForColumn(
        CConversionModel::kColumnProgress, new CProgressDelegate(m_view));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->verticalHeader()->hide();
    m_view->setShowGrid(false);
    m_view->setColumnWidth(CConversionModel::kColumnFile, 155);
    m_view->setColumnWidth(CConversionModel::kColumnFolder, 150);
    m_view->setColumnWidth(CConversionModel::kColumnProgress, 102);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->horizontalHeader()->setSectionsClickable(true);
    connect(m_view->horizontalHeader(), &QHeaderView::sectionClicked, this,
        &CConversionWindow::SortByColumn);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(
        UiText(server.Texts(), "IDS_WORD_COMMON_OK"), QDialogButtonBox::AcceptRole);
    connect(ok, &QPushButton::clicked, this, &QWidget::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addWidget(buttons);
    resize(540, 320);
    setMinimumSize(510, 300);

    m_frame = std::make_unique<veneta::CFrameBinding>(veneta::kFrameConversionWindow,
        [this](veneta::MessageId m, veneta::WParam w, veneta::LParam l) {
            return OnFrameMessage(m, w, l);
        });
    Refresh();
}

CConversionWindow::~CConversionWindow() = default;

void CConversionWindow::Refresh()
{
    m_model->SetRows(ReadConversionRows(m_server.ConvertQueue()));
}

int CConversionWindow::DropFiles(const QList<QUrl>& urls)
{
    int added = 0;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && QueueLocalFile(m_server, ToUtf8(url.toLocalFile())))
            ++added;
    }
    Refresh();
    return added;
}

void CConversionWindow::CancelSelected()
{
    QModelIndexList selected = m_view->selectionModel()->selectedRows();
    for (const QModelIndex& index : selected) {
        if (const ConversionRow* row = m_model->RowAt(m_sort->mapToSource(index).row()))
            CancelConversion(m_server.ConvertQueue(), row->convertId);
    }
    Refresh();
}

void CConversionWindow::RemoveCompleted()
{
    RemoveCompletedConversions(m_server.ConvertQueue());
    Refresh();
}

void CConversionWindow::SortByColumn(int column)
{
    // The first click sorts ascending; each later click on the same column turns it round.
    if (column == m_sortColumn)
        m_sortOrder = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    else
        m_sortOrder = Qt::AscendingOrder;
    m_sortColumn = column;
    m_view->clearSelection();
    m_sort->sort(column, m_sortOrder);
    m_view->horizontalHeader()->setSortIndicatorShown(true);
    m_view->horizontalHeader()->setSortIndicator(column, m_sortOrder);
}

void CConversionWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

int CConversionWindow::HandleDrop(const QMimeData& data)
{
    return data.hasUrls() ? DropFiles(data.urls()) : 0;
}

void CConversionWindow::dropEvent(QDropEvent* event)
{
    if (HandleDrop(*event->mimeData()) > 0)
        event->acceptProposedAction();
}

void CConversionWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

veneta::LResult CConversionWindow::OnFrameMessage(
    veneta::MessageId message, veneta::WParam wParam, veneta::LParam)
{
    switch (message) {
    case WM_APP_CONVERSION_ADDED:
    case WM_APP_CONVERSION_PROGRESS:
    case WM_APP_CONVERSION_DELETED:
        Refresh();
        return 0;
    case WM_APP_CONVERSION_STATE:
        TraceMessage(
            kTraceProgress, " -- Recv notifyRemoteEncodingObserver (%d)", static_cast<int>(wParam));
        Refresh();
        return 0;
    case veneta::kWmCommand:
        if (wParam == kCommandCancelSelected)
            CancelSelected();
        else if (wParam == kCommandRemoveCompleted)
            RemoveCompleted();
        return 0;
    default:
        return 0;
    }
}
