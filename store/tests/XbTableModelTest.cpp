// The list model over a fax table: rows fetched on demand in the table's
// order and filter, values and derived columns, archived rows in red, and
// the current row left where it was.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QColor>
#include <QCoreApplication>
#include <unistd.h>

#include "store/StoreText.h"
#include "store/XbTableModel.h"
#include "store/core/FaxTables.h"
#include "testsupport/TempFolder.h"

namespace {

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_.Path();
    env_.SetCentury(true);
    env_.SetDeleted(true);
    ASSERT_TRUE(OpenOutgoingTable(out_, x_, folder_, ".not. archived"));
    out_.Table()->BeginBatch();
    for (int i = 0; i < 1000; ++i) {
      ASSERT_TRUE(out_.Append());
      ASSERT_TRUE(out_.SetFieldText("SUBJECT", "Fax " + std::to_string(i)));
      ASSERT_TRUE(out_.SetFieldValue("DATESENT", TXbValue::Date(XbJulian(2026, 1, 1) + i)));
      ASSERT_TRUE(out_.SetFieldText("TIMESENT", "10:00"));
      ASSERT_TRUE(out_.SetFieldText("FAXDOC", i % 100 == 1 ? "" : "FAX" + std::to_string(i) + ".APF"));
      ASSERT_TRUE(out_.SetFieldValue("ARCHIVED", TXbValue::Bool(i % 4 == 0)));
      ASSERT_TRUE(out_.Table()->Post());
    }
    ASSERT_TRUE(out_.Table()->EndBatch());
    ASSERT_TRUE(out_.SetIndexName("DATESENT"));
    ASSERT_TRUE(out_.First());
  }
  void TearDown() override {
    EXPECT_TRUE(out_.Close());
  }
  std::vector<TXbColumn> Columns() {
    return {{"Date Sent", "DATESENT", nullptr, 0},
            {"Subject", "SUBJECT", nullptr, 20},
            {"Fax File", "", [](const TXbDataTable& t) { return QString::fromStdString(CalcFaxFileOutgoing(t, "/P/")); }, 50}};
  }

  TTempFolder temp_;
  std::filesystem::path folder_;
  TXbEngine engine_;
  TXbaseEnv env_{engine_};
  TXbDataTable out_{engine_};
  TXbase x_{engine_};
};

}  // namespace

TEST_F(ModelTest, FetchesRowsOnDemandInOrderAndFilter) {
  TXbTableModel model(out_);
  model.SetColumns(Columns());
  EXPECT_EQ(model.columnCount(), 3);
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Subject");
  EXPECT_EQ(model.rowCount(), 0);
  ASSERT_TRUE(model.canFetchMore());
  const uint32_t current = out_.RecNo();
  model.fetchMore();
  EXPECT_EQ(model.rowCount(), TXbTableModel::kFetchRows);
  EXPECT_EQ(out_.RecNo(), current);  // the table's current row stays
  // Newest first, archived rows (every fourth) filtered out.
  EXPECT_EQ(model.data(model.index(0, 1)).toString(), "Fax 999");
  EXPECT_EQ(model.data(model.index(1, 1)).toString(), "Fax 998");
  EXPECT_EQ(model.data(model.index(2, 1)).toString(), "Fax 997");
  EXPECT_EQ(model.data(model.index(3, 1)).toString(), "Fax 995");
  EXPECT_EQ(model.data(model.index(0, 0)).toString(), QString::fromStdString(XbDtoc(XbJulian(2026, 1, 1) + 999, engine_.Settings())));
  EXPECT_EQ(model.data(model.index(0, 2)).toString(), "/p/send/fax999.apf");
  while (model.canFetchMore()) model.fetchMore();
  EXPECT_EQ(model.rowCount(), 750);
  EXPECT_EQ(out_.RecNo(), current);
  // A cover-only row.
  const int row = model.RowOfRecord(102);
  ASSERT_GE(row, 0);
  EXPECT_EQ(model.data(model.index(row, 2)).toString(), "(Cover only)");
  EXPECT_EQ(model.RowOfRecord(1), -1);  // archived: not in the list
  // A fresh model fetches only as far as the row asked for.
  TXbTableModel lazy(out_);
  lazy.SetColumns(Columns());
  EXPECT_EQ(lazy.RowOfRecord(102), row);
  EXPECT_LT(lazy.rowCount(), row + 1 + TXbTableModel::kFetchRows);
  EXPECT_TRUE(lazy.canFetchMore());
  // Qt's own consistency checks on a fresh model as views drive it.
  TXbTableModel fresh(out_);
  fresh.SetColumns(Columns());
  QAbstractItemModelTester tester(&fresh, QAbstractItemModelTester::FailureReportingMode::Fatal);
  while (fresh.canFetchMore()) fresh.fetchMore();
  EXPECT_EQ(fresh.rowCount(), 750);
}

TEST_F(ModelTest, FilterChangesRefreshAndArchivedRowsAreRed) {
  TXbTableModel model(out_);
  model.SetColumns(Columns());
  model.fetchMore();
  x_.SetFilter("");  // show archived faxes
  EXPECT_EQ(model.rowCount(), 0);
  model.fetchMore();
  EXPECT_EQ(model.data(model.index(0, 1)).toString(), "Fax 999");
  EXPECT_EQ(model.data(model.index(3, 1)).toString(), "Fax 996");
  EXPECT_EQ(model.data(model.index(3, 1), Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
  EXPECT_FALSE(model.data(model.index(0, 1), Qt::ForegroundRole).isValid());
  // Deleting a row through the table object refreshes the list too.
  ASSERT_TRUE(out_.Table()->Go(1000));
  ASSERT_TRUE(out_.Delete());
  model.fetchMore();
  EXPECT_EQ(model.data(model.index(0, 1)).toString(), "Fax 998");
}

TEST_F(ModelTest, RowDateTimeTextInQtFormats) {
  ASSERT_TRUE(out_.Table()->Go(5));
  const QDate today(2026, 1, 10);
  EXPECT_EQ(QtDatePattern(env_.DatePattern()), "MM/dd/yyyy");
  const QString text = RowDateTimeTextQt(out_, true, QtDatePattern(env_.DatePattern()), today);
  EXPECT_TRUE(text.startsWith("01/05/2026 at ")) << text.toStdString();
  EXPECT_TRUE(text.contains("10")) << text.toStdString();
  EXPECT_EQ(TableText("Caf\xe9"), QString::fromUtf8("Caf\xc3\xa9"));
  EXPECT_EQ(ToTableText(QString::fromUtf8("Caf\xc3\xa9")), "Caf\xe9");
}

// Fetching stops exactly at the end whether the visible rows fill whole
// pages or not, and never loses or repeats a row at a page's edge.
TEST_F(ModelTest, PagesEndExactlyAtTheLastRow) {
  const int page = TXbTableModel::kFetchRows;
  for (int visible : {0, 1, page - 1, page, page + 1, 2 * page, 2 * page + 1}) {
    SCOPED_TRACE(visible);
    // Rows numbered from the newest: the first `visible` are not archived.
    std::string filter = "val(substr(SUBJECT, 5)) >= " + std::to_string(1000 - visible);
    x_.SetFilter(filter);
    TXbTableModel model(out_);
    model.SetColumns(Columns());
    int fetches = 0;
    while (model.canFetchMore() && fetches < 10) {
      model.fetchMore();
      ++fetches;
    }
    EXPECT_FALSE(model.canFetchMore());
    ASSERT_EQ(model.rowCount(), visible);
    for (int r = 0; r < visible; ++r) EXPECT_EQ(model.data(model.index(r, 1)).toString(), "Fax " + QString::number(999 - r));
  }
}
