#pragma once
// "Archivo" > "Historial...": every programming from the history, filtered by subscriber, and
// exported as it is shown.

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "programming/History.h"

class QSortFilterProxyModel;
class QStandardItemModel;
class QPushButton;

namespace Ui {
class THistoryForm;
}

namespace vardelio {

class THistoryForm : public QDialog {
  Q_OBJECT
 public:
  explicit THistoryForm(QWidget* parent = nullptr, std::string path = HistoryPath());
  ~THistoryForm() override;

  // Reads the history again; a history that cannot be read is said once, over the window.
  void Reload();
  // The entries shown now, in the order shown.
  std::vector<THistoryEntry> Shown() const;
  // Writes them in the history's own format; false, after saying why, when it cannot.
  bool Export(const std::string& path);
  QPushButton* ExportButton() const { return export_; }

 private:
  void ExportClick();
  void Filter(const QString& text);

  std::unique_ptr<Ui::THistoryForm> ui_;
  std::string path_;
  std::vector<THistoryEntry> entries_;
  QStandardItemModel* model_;
  QSortFilterProxyModel* shown_;
  QPushButton* export_;
};

}  // namespace vardelio
