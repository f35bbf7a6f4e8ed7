// The conversion window over a real queue that runs no worker: the test moves the
// jobs on with the queue's own progress messages, as the worker would.

#include "config/app_messages.h"
#include "conversion/convert_queue.h"
#include "conversion_window.h"
#include "desktop_fixture.h"
#include "skin/message_loop.h"

#include <QHeaderView>
#include <QMimeData>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>
#include <QUrl>
#include <filesystem>

namespace fs = std::filesystem;

class ConversionWindowTest : public DesktopTest {
protected:
    ConversionWindowTest()
    {
        fs::create_directories(m_root / "a");
        fs::create_directories(m_root / "b");
        WriteFileText(m_root / "a/clip.avi", "a");
        WriteFileText(m_root / "b/clip.avi", "b");
    }

    void Drop(const std::vector<std::string>& paths)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const std::string& path : paths)
            urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
        data.setUrls(urls);
        m_window.HandleDrop(data);
    }

    ~ConversionWindowTest() override
    {
        veneta::CPXFrameMSG::ClearTarget(veneta::kFrameConversionList, &m_queue);
    }

    QString Cell(int row, int column) const
    {
        return m_window.SortModel()->index(row, column).data().toString();
    }

    std::vector<ConversionRow> Rows() const { return ReadConversionRows(); }

    // The worker's report: a percentage, 100 for done, a negative code for failed.
    void Report(const std::string& convertId, int percent)
    {
        veneta::CPXFrameMSG::Send(veneta::kFrameConversionList, WM_APP_QUEUE_PROGRESS,
            static_cast<veneta::WParam>(percent), reinterpret_cast<veneta::LParam>(&convertId));
    }

    veneta::CMessageLoopThread m_loop;
    CConvertQueue m_queue;
    bool m_registered = [this] {
        veneta::CPXFrameMSG::SetTarget(veneta::kFrameConversionList, &m_queue, &m_loop);
        return true;
    }();
    CConversionWindow m_window;
};

TEST_F(ConversionWindowTest, DroppedFilesBecomeRowsWithOutputNamesOfTheirOwn)
{
    Drop({ m_root / "a/clip.avi", m_root / "b/clip.avi" });
    ASSERT_EQ(m_window.Model()->rowCount(), 2);
    EXPECT_EQ(Cell(0, CConversionModel::kColumnFile), "clip.avi");
    EXPECT_EQ(Cell(0, CConversionModel::kColumnFolder).toStdString(), m_root / "a");
    EXPECT_EQ(Cell(1, CConversionModel::kColumnFolder).toStdString(), m_root / "b");
    EXPECT_EQ(Cell(0, CConversionModel::kColumnStatus).toStdString(),
        LookupText("IDS_WORD_CONV_WAITING"));

    WriteFileText(m_root / "a/clip-vembacast.m4v", "done");
    Drop({ m_root / "a/clip.avi", m_root / "a/clip.avi" });
    std::vector<ConversionRow> rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2].outputPath, m_root / "a/clip-vembacast (2).m4v");
    EXPECT_EQ(rows[3].outputPath, m_root / "a/clip-vembacast (3).m4v");
}

TEST_F(ConversionWindowTest, ADropWithoutFilesChangesNothing)
{
    QMimeData data;
    data.setText("not a file");
    EXPECT_EQ(m_window.HandleDrop(data), 0);
    Drop({ m_root / "nothing-here.avi" });
    EXPECT_EQ(m_window.Model()->rowCount(), 0);
}

TEST_F(ConversionWindowTest, ProgressAndStateShowWithTheirColours)
{
    Drop({ m_root / "a/clip.avi", m_root / "b/clip.avi" });
    std::vector<ConversionRow> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    Report(rows[0].convertId, 37);
    Report(rows[1].convertId, -1);
    // Changes arrive as queued notices, as they would from the worker.
    ASSERT_TRUE(
        RunEventsUntil([&] { return Cell(0, CConversionModel::kColumnProgress) == "37%"; }));
    QModelIndex status = m_window.SortModel()->index(1, CConversionModel::kColumnStatus);
    EXPECT_EQ(status.data().toString().toStdString(), LookupText("IDS_WORD_CONV_FAILED"));
    EXPECT_EQ(status.data(Qt::ForegroundRole).value<QColor>(), QColor(0xFF, 0, 0));
    EXPECT_EQ(m_window.SortModel()->index(0, 0).data(Qt::ForegroundRole).value<QColor>(),
        QColor(0x00, 0x00, 0x00)); // still waiting: no engine took it
}

TEST_F(ConversionWindowTest, TheStatusHeaderSortsAscendingThenDescending)
{
    Drop({ m_root / "a/clip.avi", m_root / "b/clip.avi" });
    Report(Rows().at(0).convertId, 100);
    ASSERT_TRUE(RunEventsUntil([&] {
        return Cell(0, CConversionModel::kColumnStatus).toStdString()
            == LookupText("IDS_WORD_CONV_COMPLETE");
    }));
    QString done = QString::fromStdString(LookupText("IDS_WORD_CONV_COMPLETE"));
    QString waiting = QString::fromStdString(LookupText("IDS_WORD_CONV_WAITING"));
    QString first = std::min(done, waiting);
    QString last = std::max(done, waiting);
    m_window.View()->horizontalHeader()->sectionClicked(CConversionModel::kColumnStatus);
    EXPECT_EQ(Cell(0, CConversionModel::kColumnStatus), first);
    m_window.View()->horizontalHeader()->sectionClicked(CConversionModel::kColumnStatus);
    EXPECT_EQ(Cell(0, CConversionModel::kColumnStatus), last);
    EXPECT_EQ(m_window.View()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(ConversionWindowTest, CommandsCancelTheSelectedJobAndClearFinishedOnes)
{
    Drop({ m_root / "a/clip.avi", m_root / "b/clip.avi" });
    Report(Rows().at(0).convertId, 100);
    m_window.Refresh();
    m_window.View()->selectRow(1);
    veneta::CPXFrameMSG::Send(veneta::kFrameConversionWindow, veneta::kWmCommand, 112);
    EXPECT_EQ(Rows().at(1).state, kConvertRemoved);
    EXPECT_EQ(Cell(1, CConversionModel::kColumnStatus).toStdString(),
        LookupText("IDS_WORD_CONV_CANCELED"));
    veneta::CPXFrameMSG::Send(veneta::kFrameConversionWindow, veneta::kWmCommand, 113);
    // Both are now the worker's to take out; neither is still waiting or complete.
    for (const ConversionRow& row : Rows())
        EXPECT_EQ(row.state, kConvertRemoved);
}

TEST_F(ConversionWindowTest, EscapeHidesTheWindowWithItsRowsKept)
{
    Drop({ m_root / "a/clip.avi" });
    m_window.show();
    QTest::keyClick(&m_window, Qt::Key_Escape);
    EXPECT_FALSE(m_window.isVisible());
    m_window.show();
    EXPECT_EQ(m_window.Model()->rowCount(), 1);
}
