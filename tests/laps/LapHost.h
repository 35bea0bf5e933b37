#pragma once

// A stand-in for the main window in the lap table's tests: it keeps the lap lists in a
// LapModel, shows them in a LapForm and answers GridInterface the way the main window does,
// with movies reduced to a path, a position and a base time (the main window's own tests
// cover movie windows without a movie). It records every call
// the lap table makes.

#include <QCloseEvent>
#include <QWidget>

#include <optional>
#include <vector>

#include "laps/GridInterface.h"
#include "laps/LapFile.h"
#include "laps/LapForm.h"
#include "laps/LapMessages.h"
#include "laps/LapModel.h"
#include "platform/ui/OwnedWindow.h"

namespace quorvex::test {

struct FakeMovie {
  FakeMovie(QString p, double at) : path(std::move(p)), position(at) {}
  QString path;
  double position = 0;
  double base_time = 0;
  std::vector<double> seeks;
};

class LapHost : public QWidget, public GridInterface {
 public:
  LapHost() {
    setWindowTitle(QStringLiteral("Quorvex"));
    lf = new LapForm(*this, this);
  }

  // Opening movies: one column group each, every lap row discarded.
  void Open(const std::vector<FakeMovie>& added) {
    for (const FakeMovie& m : added) {
      movies.push_back(m);
      lf->AddItem();
    }
    lf->ClearRows();
    model.Reset(int(movies.size()));
  }

  // Closing one movie window: its list and the last column group go, the rest is refilled.
  void Close(int index) {
    movies.erase(movies.begin() + index);
    model.RemoveMovie(index);
    lf->DeleteBackItem();
    lf->SetDataGridView(model.time_list());
  }

  // The positions: every movie at `at`, in index order.
  void MoveTo(const std::vector<double>& at) {
    for (size_t i = 0; i < at.size(); ++i)
      movies[i].position = at[i];
  }

  void SetBaseTime() {
    if (movies.empty())
      return;
    ClearTime();
    model.SetBaseTime(Reader());
    for (size_t i = 0; i < movies.size(); ++i)
      movies[i].base_time = model.time_list()[i][0];
    lf->AddRow();
    lf->SetDataGridView(model.time_list());
  }

  void AddTime() {
    if (movies.empty())
      return;
    switch (model.AddTime(Reader())) {
      case laps::LapModel::AddResult::kAdded:
        lf->AddRow();
        lf->SetDataGridView(model.time_list());
        break;
      case laps::LapModel::AddResult::kBeforeBase:
        laps::ShowBeforeBaseMessage(this);
        break;
      case laps::LapModel::AddResult::kNoBase:
        break;
    }
  }

  void SetBaseMovieIndex(int index) {
    lf->SetBaseMovieIndex(index);
    lf->SetDataGridView(model.time_list());
  }

  bool Save(const QString& path, const QLocale& locale) {
    if (!model.HasLapData()) {
      laps::ShowNoLapDataMessage(this);
      return false;
    }
    laps::LapFile file;
    for (const FakeMovie& m : movies)
      file.file_names << m.path;
    file.time_list = model.time_list();
    return laps::SaveLapFile(this, path, file, locale);
  }

  // Loading: the file is checked first; only a sound file replaces movies and lists.
  bool Load(const QString& path, const QLocale& locale) {
    std::optional<laps::LapFile> file = laps::LoadLapFile(this, path, locale);
    if (!file)
      return false;
    while (!movies.empty())
      Close(0);
    for (int m = 0; m < file->file_names.size(); ++m) {
      movies.emplace_back(file->file_names[m], 0.0);
      movies.back().base_time = file->time_list[m].front();
      lf->AddItem();
    }
    lf->ClearRows();
    const size_t rows = file->time_list.front().size();
    model.Replace(std::move(file->time_list));
    for (size_t r = 0; r < rows; ++r)
      lf->AddRow();
    lf->SetDataGridView(model.time_list());
    return true;
  }

  // GridInterface.
  void RowSelected(int32_t row) override {
    selected.push_back(row);
    const std::vector<double> at = model.RowPositions(row);
    for (size_t i = 0; i < at.size() && i < movies.size(); ++i)
      movies[i].seeks.push_back(at[i]);
  }
  void RemoveRow(int32_t row) override {
    removed.push_back(row);
    model.RemoveRow(row);
  }
  int32_t GetCountRow() override {
    ++count_calls;
    return model.GetCountRow();
  }
  void SetDataGridView() override {
    ++refills;
    lf->SetDataGridView(model.time_list());
  }

  laps::LapModel model;
  LapForm* lf = nullptr;
  std::vector<FakeMovie> movies;
  std::vector<int> selected;
  std::vector<int> removed;
  int count_calls = 0;
  int refills = 0;
  int close_requests = 0;

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++close_requests;
    ui::ContainerClosingScope closing(this);
    ui::CloseOwnedWindows(this);
    event->accept();
  }

 private:
  void ClearTime() {
    model.ClearTime();
    for (FakeMovie& m : movies)
      m.base_time = 0;
    lf->ClearRows();
  }
  laps::PositionReader Reader() {
    return [this](int movie) { return movies[size_t(movie)].position; };
  }
};

}  // namespace quorvex::test
