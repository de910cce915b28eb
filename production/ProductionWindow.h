#pragma once

#include <QDateTime>
#include <QWidget>
#include <memory>
#include <vector>

#include <string>

#include "ProductionReport.h"

class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace velkor {

// The production window, for a shift supervisor: the pieces sent whole in each hour of a chosen
// day or shift as a chart, the records of that time (filtered by batch, barcode and
// workstation; the newest kRecordsShown of them), the batches they belong to with their pieces
// done and in all, and an export of the records shown to a CSV file for an office spreadsheet.
// Every workstation's records count. The engine does the counting, on a connection of the
// window's own.
class ProductionWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr std::size_t kRecordsShown = 1000;

    // Over the job database that `databaseString` names; exports are offered in `folder`.
    ProductionWindow(std::string databaseString, std::string folder, QWidget* parent = nullptr);
    ~ProductionWindow() override;

    // Reads what the filters choose and shows it; throws what the database said.
    void refresh();
    // Writes the records shown to `path`.
    void exportTo(const QString& path) const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // The hours the day or shift chosen covers: the first, and how many.
    struct Hours {
        QDateTime first;
        int count = 0;
    };

    void buildControls();
    Hours chosenHours() const;
    ProductionFilter filter() const;
    void showHours(const std::vector<std::pair<std::string, std::int64_t>>& hours);
    void showRecords();
    void showBatches(const std::vector<BatchLine>& batches);
    void ExportClick();

    ReportConnection connection_;
    std::string folder_;
    std::vector<ProductionLine> lines_;  // the records shown

    QDateEdit* Date_Day = nullptr;
    QComboBox* Combo_Shift = nullptr;
    QLineEdit* Edit_Batch = nullptr;
    QLineEdit* Edit_Barcode = nullptr;
    QLineEdit* Edit_Workstation = nullptr;
    QPushButton* Button_Show = nullptr;
    QPushButton* Button_Export = nullptr;
    QLabel* Label_Summary = nullptr;
    QChartView* Chart_Hours = nullptr;
    QTableWidget* Table_Records = nullptr;
    QTableWidget* Table_Batches = nullptr;
};

}  // namespace velkor
