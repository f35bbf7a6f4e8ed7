// The conversion window over the real queue of a conversion layer that runs no worker:
// the queue reports its changes to the window as the main window's core view does,
// and the test moves the jobs on with the queue's notice handlers, as the worker and
// the engines would.

#include "conversion/conversion_context.h"
#include "conversion_window.h"
#include "desktop_fixture.h"

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
        fs::create_directories(Path("a"));
        fs::create_directories(Path("b"));
        WriteFileText(Path("a/clip.avi"), "a");
        WriteFileText(Path("b/clip.avi"), "b");
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

    QString Cell(int row, int column) const
    {
        return m_window.SortModel()->index(row, column).data().toString();
    }
    std::string Status(const char* key) const { return m_server.Texts().Lookup(key); }

    std::vector<ConvertJobPtr> Jobs() { return m_server.ConvertQueue().Jobs(); }
    std::vector<ConversionRow> Rows() { return ReadConversionRows(m_server.ConvertQueue()); }

    // The worker's progress report of a job.
    void Progress(const ConvertJobPtr& job, int percent)
    {
        job->RaiseProgress(percent);
        PostConversionChange(ConversionChange::Progress, *job);
    }

    ConversionContext m_server { m_data.Parts() };
    bool m_observed = [this] {
        m_server.ConvertQueue().SetObserver(PostConversionChange);
        return true;
    }();
    CConversionWindow m_window { m_server };
};

TEST_F(ConversionWindowTest, DroppedFilesBecomeRowsWithOutputNamesOfTheirOwn)
{
    Drop({ Path("a/clip.avi"), Path("b/clip.avi") });
    ASSERT_EQ(m_window.Model()->rowCount(), 2);
    EXPECT_EQ(Cell(0, CConversionModel::kColumnFile), "clip.avi");
    EXPECT_EQ(Cell(0, CConversionModel::kColumnFolder).toStdString(), Path("a"));
    EXPECT_EQ(Cell(1, CConversionModel::kColumnFolder).toStdString(), Path("b"));
    EXPECT_EQ(
        Cell(0, CConversionModel::kColumnStatus).toStdString(), Status("IDS_WORD_CONV_WAITING"));

    WriteFileText(Path("a/clip-vembacast.m4v"), "done");
    Drop({ Path("a/clip.avi"), Path("a/clip.avi") });
    std::vector<ConversionRow> rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2].outputPath, Path("a/clip-vembacast (2).m4v"));
    EXPECT_EQ(rows[3].outputPath, Path("a/clip-vembacast (3).m4v"));
}

TEST_F(ConversionWindowTest, ADropWithoutFilesChangesNothing)
{
    QMimeData data;
    data.setText("not a file");
    EXPECT_EQ(m_window.HandleDrop(data), 0);
    Drop({ Path("nothing-here.avi") });
    EXPECT_EQ(m_window.Model()->rowCount(), 0);
}

TEST_F(ConversionWindowTest, ProgressAndStateShowWithTheirColours)
{
    Drop({ Path("a/clip.avi"), Path("b/clip.avi") });
    std::vector<ConvertJobPtr> jobs = Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    Progress(jobs[0], 37);
    m_server.ConvertQueue().OnConversionError(jobs[1]);
    // Changes arrive as posted notices, as they would from the worker.
    ASSERT_TRUE(RunEventsUntil([&] {
        return Cell(0, CConversionModel::kColumnProgress) == "37%"
            && Cell(1, CConversionModel::kColumnStatus).toStdString()
            == Status("IDS_WORD_CONV_FAILED");
    }));
    QModelIndex status = m_window.SortModel()->index(1, CConversionModel::kColumnStatus);
    EXPECT_EQ(status.data(Qt::ForegroundRole).value<QColor>(), QColor(0xFF, 0, 0));
    EXPECT_EQ(m_window.SortModel()->index(0, 0).data(Qt::ForegroundRole).value<QColor>(),
        QColor(0x00, 0x00, 0x00)); // still waiting: no engine took it
}

TEST_F(ConversionWindowTest, TheStatusHeaderSortsAscendingThenDescending)
{
    Drop({ Path("a/clip.avi"), Path("b/clip.avi") });
    m_server.ConvertQueue().OnConversionCompleted(Jobs().at(0));
    ASSERT_TRUE(RunEventsUntil([&] {
        return Cell(0, CConversionModel::kColumnStatus).toStdString()
            == Status("IDS_WORD_CONV_COMPLETE");
    }));
    QString done = QString::fromStdString(Status("IDS_WORD_CONV_COMPLETE"));
    QString waiting = QString::fromStdString(Status("IDS_WORD_CONV_WAITING"));
    QString first = std::min(done, waiting);
    QString last = std::max(done, waiting);
    m_window.View()->horizontalHeader()->sectionClicked(CConversionModel::kColumnStatus);
    EXPECT_EQ(Cell(0, CConversionModel::kColumnStatus), first);
    m_window.View()->horizontalHeader()->sectionClicked(CConversionModel::kColumnStatus);
    EXPECT_EQ(Cell(0, CConversionModel::kColumnStatus), last);
    EXPECT_EQ(m_window.View()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(ConversionWindowTest, CommandsCancelTheSelectedJobAndClearCompleteOnes)
{
    Drop({ Path("a/clip.avi"), Path("b/clip.avi"), Path("a/clip.avi") });
    std::vector<ConvertJobPtr> jobs = Jobs();
    m_server.ConvertQueue().OnConversionCompleted(jobs.at(0));
    m_server.ConvertQueue().OnConversionError(jobs.at(2));
    m_window.Refresh();
    m_window.View()->selectRow(1);
    veneta::CPXFrameMSG::Send(veneta::kFrameConversionWindow, veneta::kWmCommand, 112);
    EXPECT_EQ(Rows().at(1).state, kConvertRemoved);
    EXPECT_EQ(
        Cell(1, CConversionModel::kColumnStatus).toStdString(), Status("IDS_WORD_CONV_CANCELED"));
    veneta::CPXFrameMSG::Send(veneta::kFrameConversionWindow, veneta::kWmCommand, 113);
    // The complete and the cancelled one are the worker's to take out; the failed one
    // stays listed for the user to see.
    EXPECT_EQ(jobs[0]->nState, kConvertRemoved);
    EXPECT_EQ(jobs[1]->nState, kConvertRemoved);
    EXPECT_EQ(jobs[2]->nState, kConvertFailed);
}

TEST_F(ConversionWindowTest, EscapeHidesTheWindowWithItsRowsKept)
{
    Drop({ Path("a/clip.avi") });
    m_window.show();
    QTest::keyClick(&m_window, Qt::Key_Escape);
    EXPECT_FALSE(m_window.isVisible());
    m_window.show();
    EXPECT_EQ(m_window.Model()->rowCount(), 1);
}

TEST_F(ConversionWindowTest, ADeletedJobLeavesTheWindowWhenTheWorkerTakesItOut)
{
    Drop({ Path("a/clip.avi"), Path("b/clip.avi") });
    CancelConversion(m_server.ConvertQueue(), Jobs().at(0)->strConvertID);
    m_server.ConvertQueue().Start(); // the worker removes the cancelled job and tells
    ASSERT_TRUE(RunEventsUntil([&] { return m_window.Model()->rowCount() == 1; }));
    EXPECT_EQ(Cell(0, CConversionModel::kColumnFolder).toStdString(), Path("b"));
}
