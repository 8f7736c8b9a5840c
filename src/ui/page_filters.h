// The "Фильтры" page: the filter plug-ins in the order they run, each with
// its icon, name, description and a check box that turns it on or off; "Вверх"
// and "Вниз" move the selected filter, a double click opens its settings.
// The page keeps no copy: everything shown comes from the filter list.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <vector>

#include "ui/settings_page.h"

class QKeyEvent;
class QPushButton;
class QTreeView;

// The filter list as the list view sees it: asked for every cell when it is
// drawn.
class CFilterListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  CFilterListModel(CFilterList* filters, std::vector<QIcon> icons, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // A change of the check state toggles the filter.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // The list changed under the model (order, count): everything is asked
  // for again.
  void Refresh();
  void RowChanged(int row);

 signals:
  void filterToggled(int row);

 private:
  CFilterList* filters_;
  std::vector<QIcon> icons_;
};

class CPageFilters : public CSettingsPage {
  Q_OBJECT
 public:
  // filters may be null (no filter list: an empty page).
  explicit CPageFilters(CFilterList* filters, QWidget* parent = nullptr);

  void LoadControls() override;
  void StoreControls() override;

  // The selected row, or -1.
  int SelectedRow() const;
  void SelectRow(int row);
  // The buttons' actions.
  void MoveUp();
  void MoveDown();
  // Turns filter row on or off (a click on its check box).
  void ToggleFilter(int row);
  // Opens the settings dialog of filter row (a double click).
  void SetupFilter(int row);

  QTreeView* List() const { return list_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int Count() const;
  void FitNameColumn();

  CFilterList* filters_;
  CFilterListModel* model_ = nullptr;
  QTreeView* list_ = nullptr;
  QPushButton* up_ = nullptr;
  QPushButton* down_ = nullptr;
};
