#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "SettingsHistory.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace velkor {

// The settings history, for a service person or a production manager: who changed what on the
// machine, when, from which workstation, and what the controller and the database made of it;
// newest first, filtered by parameter (or job file), workstation and time, the newest
// kRowsShown of them. Beside it the value each parameter had at a chosen moment, and an export
// of the rows shown to a CSV file for an office spreadsheet. Every workstation's changes show.
// On a connection of the window's own.
class HistoryWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr std::size_t kRowsShown = 1000;

    // Over the job database that `databaseString` names; exports are offered in `folder`.
    HistoryWindow(std::string databaseString, std::string folder, QWidget* parent = nullptr);

    // Reads the rows the filters choose, and the values at the moment chosen, and shows them;
    // throws what the database said.
    void refresh();
    // Writes the rows shown to `path`.
    void exportTo(const QString& path) const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void buildControls();
    HistoryFilter filter() const;

    ReportConnection connection_;
    std::string folder_;
    std::vector<HistoryLine> lines_;  // the rows shown

    QComboBox* Combo_Parameter = nullptr;
    QLineEdit* Edit_Workstation = nullptr;
    QDateTimeEdit* Date_From = nullptr;
    QDateTimeEdit* Date_To = nullptr;
    QDateTimeEdit* Date_Moment = nullptr;
    QPushButton* Button_Show = nullptr;
    QPushButton* Button_Export = nullptr;
    QLabel* Label_Summary = nullptr;
    QTableWidget* Table_History = nullptr;
    QTableWidget* Table_Values = nullptr;
};

}  // namespace velkor
