// Shared by the window's tests: a temporary installation on real folders,
// the program folder with its Filter.ini, and a launcher that records the
// command lines instead of starting programs.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "tests/TestSupport.h"
#include "window/MSFlexGrid.h"
#include "window/frm_Qvue.h"

namespace form_test {

struct RecordingLauncher : platform::Launcher {
  bool Start(const std::string& command_line) override {
    started.push_back(command_line);
    return true;
  }
  std::vector<std::string> started;
};

// A window started on `settings` as the only instance; errors go to
// `errors` (dropped when null).
inline std::unique_ptr<frm_Qvue> OpenForm(const QvueSettings& settings, std::vector<std::string>* errors) {
  auto form = std::make_unique<frm_Qvue>(settings);
  form->PreviousInstanceRunning = [] { return false; };
  form->ShowError = [errors](const QString& text) {
    if (errors != nullptr) errors->push_back(text.toStdString());
  };
  if (!form->Form_Load()) qFatal("the window did not start although no other instance runs");
  return form;
}

// The file names the grid lists, top to bottom.
inline std::vector<std::string> Names(MSFlexGrid* grid) {
  std::vector<std::string> names;
  for (std::int64_t r = 1; r < grid->Rows(); ++r) names.push_back(grid->TextMatrix(r, 1));
  return names;
}

// The row listing `name`, -1 when none does.
inline std::int64_t RowOf(MSFlexGrid* grid, const std::string& name) {
  for (std::int64_t r = 1; r < grid->Rows(); ++r)
    if (grid->TextMatrix(r, 1) == name) return r;
  return -1;
}

// Selects the block from (row, col) to (row_sel, col_sel).
inline void Select(MSFlexGrid* grid, std::int64_t row, std::int64_t row_sel, int col = 1, int col_sel = 1) {
  grid->SetRow(row);
  grid->SetCol(col);
  grid->SetRowSel(row_sel);
  grid->SetColSel(col_sel);
}

// One installation: ROOT1 and ROOT2 with their queue folders, a program
// folder with a blank in its name, the host and launcher of the test.
struct Installation {
  test_support::TempFolder temp;
  std::string prog = temp.path() + "/prog dir";
  std::string root1 = temp.path() + "/K1";
  std::string root2 = temp.path() + "/K2";
  test_support::TestHost host{prog};
  RecordingLauncher launcher;
  platform::ScopedLauncher launcher_guard{launcher};

  Installation() {
    std::filesystem::create_directories(prog);
    for (const std::string& root : {root1, root2}) {
      for (const char* folder : {"/Mail/Mailout/Wait", "/Mail/Mailout/Errors", "/Mail/MailIn", "/Mail/NNTP"})
        std::filesystem::create_directories(root + folder);
    }
    test_support::WriteFile(prog + "/Filter.ini", "");
  }

  // A window started on this installation; errors go to `errors`.
  std::unique_ptr<frm_Qvue> Open(std::vector<std::string>* errors = nullptr) {
    return OpenForm({.Root1 = root1, .Root2 = root2, .Host1 = "alpha", .Host2 = "beta"}, errors);
  }
};

}  // namespace form_test
