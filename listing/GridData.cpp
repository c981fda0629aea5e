#include "listing/GridData.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/Text.h"

namespace {

// 100 pixels at 15 twips per pixel: the width of a column no one has sized.
constexpr int kDefaultColWidth = 1500;

const std::string kNoText;

// A cell text read as a decimal number: optional blanks, an optional sign,
// digits with an optional decimal point, optional blanks. The integer digits
// are kept without leading zeros and the decimals without trailing zeros, so
// numbers of any length compare exactly, digit by digit, and "-0" equals "0".
struct SortKey {
  bool number = false;
  bool negative = false;
  std::string_view digits;
  std::string_view decimals;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

SortKey ParseSortKey(std::string_view text) {
  SortKey key;
  std::size_t i = 0, end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::size_t digits_begin = i;
  while (i < end && IsDigit(text[i])) ++i;
  std::string_view digits = text.substr(digits_begin, i - digits_begin);
  std::string_view decimals;
  if (i < end && text[i] == '.') {
    std::size_t decimals_begin = ++i;
    while (i < end && IsDigit(text[i])) ++i;
    decimals = text.substr(decimals_begin, i - decimals_begin);
  }
  if (i != end || (digits.empty() && decimals.empty())) return key;  // text, not a number
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  while (!decimals.empty() && decimals.back() == '0') decimals.remove_suffix(1);
  key.number = true;
  key.negative = negative && !(digits.empty() && decimals.empty());
  key.digits = digits;
  key.decimals = decimals;
  return key;
}

int Sign(int value) { return (value > 0) - (value < 0); }

int CompareNumbers(const SortKey& a, const SortKey& b) {
  if (a.negative != b.negative) return a.negative ? -1 : 1;
  int magnitude = 0;
  if (a.digits.size() != b.digits.size()) {
    magnitude = a.digits.size() < b.digits.size() ? -1 : 1;
  } else {
    magnitude = Sign(a.digits.compare(b.digits));
    if (magnitude == 0) magnitude = Sign(a.decimals.compare(b.decimals));
  }
  return a.negative ? -magnitude : magnitude;
}

// ASCII letters without regard to case, every other byte by its value.
int CompareTexts(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(platform::AsciiLower(a[i]));
    auto cb = static_cast<unsigned char>(platform::AsciiLower(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// "Numbers when both cells are numbers, else text" is not transitive over a
// column that mixes both (9 < 10 as numbers, "10" < "10a" and "10a" < "9" as
// text), and std::stable_sort needs a strict weak order. A merge sort is
// stable and well-defined whatever the comparison says.
template <typename Less>
void StableMergeSort(std::vector<std::size_t>& items, Less less) {
  const std::size_t n = items.size();
  std::vector<std::size_t> merged(n);
  for (std::size_t width = 1; width < n; width *= 2) {
    for (std::size_t lo = 0; lo < n; lo += 2 * width) {
      std::size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
      std::size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) merged[k++] = less(items[j], items[i]) ? items[j++] : items[i++];
      while (i < mid) merged[k++] = items[i++];
      while (j < hi) merged[k++] = items[j++];
    }
    items.swap(merged);
  }
}

}  // namespace

GridData::GridData(int cols, std::int64_t fixed_rows, int fixed_cols)
    : cols_(std::max(cols, 1)),
      fixed_rows_(std::max<std::int64_t>(fixed_rows, 0)),
      fixed_cols_(std::clamp(fixed_cols, 0, cols_)),
      widths_(static_cast<std::size_t>(cols_), kDefaultColWidth),
      alignments_(static_cast<std::size_t>(cols_), CellAlignment::kLeft) {
  // The fixed rows and one empty row, the current cell the first non-fixed one.
  SetRows(fixed_rows_ + 1);
  SetRow(fixed_rows_);
  SetCol(fixed_cols_);
}

void GridData::SetRows(std::int64_t rows) {
  rows = std::max(rows, fixed_rows_);
  cells_.resize(static_cast<std::size_t>(rows));
  for (std::vector<Cell>& row : cells_) {
    if (row.empty()) row.resize(static_cast<std::size_t>(cols_));
  }
  if (rows == fixed_rows_ + 1) {
    for (Cell& cell : cells_.back()) cell = Cell{};
  }
  row_ = std::min(row_, std::max<std::int64_t>(rows - 1, 0));
  row_sel_ = std::min(row_sel_, std::max<std::int64_t>(rows - 1, 0));
}

const std::string& GridData::TextMatrix(std::int64_t row, int col) const {
  if (row < 0 || row >= Rows() || col < 0 || col >= cols_) return kNoText;
  return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)].text;
}

GridData::Cell* GridData::At(std::int64_t row, int col) {
  if (row < 0 || row >= Rows() || col < 0 || col >= cols_) return nullptr;
  return &cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void GridData::SetTextMatrix(std::int64_t row, int col, std::string text) {
  if (Cell* cell = At(row, col)) {
    cell->text = std::move(text);
    cell->other.reset();
  }
}

void GridData::SetTextForms(std::int64_t row, int col, std::string shown, std::string other) {
  if (Cell* cell = At(row, col)) {
    cell->text = std::move(shown);
    cell->other = std::make_unique<std::string>(std::move(other));
  }
}

bool GridData::HasOtherForm(std::int64_t row, int col) const {
  if (row < 0 || row >= Rows() || col < 0 || col >= cols_) return false;
  return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)].other != nullptr;
}

void GridData::SwapTextForms() {
  for (std::vector<Cell>& row : cells_) {
    for (Cell& cell : row) {
      if (cell.other) cell.text.swap(*cell.other);
    }
  }
}

void GridData::AddItem(std::string text) {
  std::vector<Cell>& row = cells_.emplace_back(static_cast<std::size_t>(cols_));
  row[0].text = std::move(text);
}

void GridData::RemoveItem(std::int64_t row) {
  if (row < fixed_rows_ || row >= Rows()) return;
  cells_.erase(cells_.begin() + row);
  // Rows only went away at or after `row`: a corner below it moves up with its row.
  if (row_ > row || row_ >= Rows()) --row_;
  if (row_sel_ > row || row_sel_ >= Rows()) --row_sel_;
  row_ = std::max<std::int64_t>(row_, 0);
  row_sel_ = std::max<std::int64_t>(row_sel_, 0);
}

void GridData::Clear() {
  for (std::vector<Cell>& row : cells_) {
    for (Cell& cell : row) cell = Cell{};
  }
}

void GridData::SetColWidth(int col, int twips) {
  if (col < 0 || col >= cols_) return;
  widths_[static_cast<std::size_t>(col)] = twips < 0 ? kDefaultColWidth : twips;
}

int GridData::ColWidth(int col) const {
  if (col < 0 || col >= cols_) return 0;
  return widths_[static_cast<std::size_t>(col)];
}

void GridData::SetFormatString(const std::string& format) {
  std::string_view rest = format;
  bool segments_left = true;
  for (int col = 0; col < cols_; ++col) {
    // Past the last segment the columns go back to the left.
    CellAlignment alignment = CellAlignment::kLeft;
    if (segments_left) {
      std::size_t bar = rest.find('|');
      std::string_view segment = rest.substr(0, bar);
      std::size_t first = segment.find_first_not_of(' ');
      if (first != std::string_view::npos && segment[first] == '>') alignment = CellAlignment::kRight;
      segments_left = bar != std::string_view::npos;
      if (segments_left) rest.remove_prefix(bar + 1);
    }
    alignments_[static_cast<std::size_t>(col)] = alignment;
  }
}

CellAlignment GridData::ColAlignment(int col) const {
  if (col < 0 || col >= cols_) return CellAlignment::kLeft;
  return alignments_[static_cast<std::size_t>(col)];
}

void GridData::SetRow(std::int64_t row) {
  row_ = std::clamp<std::int64_t>(row, 0, std::max<std::int64_t>(Rows() - 1, 0));
  row_sel_ = row_;
  col_sel_ = col_;
}

void GridData::SetCol(int col) {
  col_ = std::clamp(col, 0, cols_ - 1);
  row_sel_ = row_;
  col_sel_ = col_;
}

void GridData::SetRowSel(std::int64_t row) {
  row_sel_ = std::clamp<std::int64_t>(row, 0, std::max<std::int64_t>(Rows() - 1, 0));
}

void GridData::SetColSel(int col) { col_sel_ = std::clamp(col, 0, cols_ - 1); }

bool GridData::IsSelected(std::int64_t row, int col) const {
  return row >= std::min(row_, row_sel_) && row <= std::max(row_, row_sel_) && col >= std::min(col_, col_sel_) &&
         col <= std::max(col_, col_sel_);
}

std::int64_t GridData::StepRow(std::int64_t row, std::int64_t step) const {
  std::int64_t first = fixed_rows_, last = Rows() - 1;
  if (step < 0) return std::min(row, std::max(row + step, first));
  if (step > 0) return std::max(row, std::min(row + step, last));
  return row;
}

int GridData::StepCol(int col, int step) const {
  int direction = Sign(step);
  for (int taken = 0; taken != step; taken += direction) {
    int next = col + direction;
    while (next >= fixed_cols_ && next < cols_ && ColWidth(next) == 0) next += direction;
    if (next < fixed_cols_ || next >= cols_) break;
    col = next;
  }
  return col;
}

void GridData::Sort(int setting) {
  if (setting != 1 && setting != 2) return;
  const bool descending = setting == 2;
  std::int64_t first = fixed_rows_, last = Rows() - 1;
  if (row_ != row_sel_) {
    first = std::max(std::min(row_, row_sel_), fixed_rows_);
    last = std::max(row_, row_sel_);
  }
  if (last <= first) return;
  const int key_first = std::min(col_, col_sel_);
  const auto key_cols = static_cast<std::size_t>(std::max(col_, col_sel_) - key_first + 1);
  const auto count = static_cast<std::size_t>(last - first + 1);
  auto row_at = [&](std::size_t i) -> std::vector<Cell>& { return cells_[static_cast<std::size_t>(first) + i]; };

  // Each cell is parsed once, not at every comparison.
  std::vector<SortKey> keys(count * key_cols);
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t k = 0; k < key_cols; ++k) {
      keys[i * key_cols + k] = ParseSortKey(row_at(i)[static_cast<std::size_t>(key_first) + k].text);
    }
  }
  auto less = [&](std::size_t a, std::size_t b) {
    for (std::size_t k = 0; k < key_cols; ++k) {
      const SortKey& ka = keys[a * key_cols + k];
      const SortKey& kb = keys[b * key_cols + k];
      int order = ka.number && kb.number ? CompareNumbers(ka, kb)
                                         : CompareTexts(row_at(a)[static_cast<std::size_t>(key_first) + k].text,
                                                        row_at(b)[static_cast<std::size_t>(key_first) + k].text);
      if (order != 0) return descending ? order > 0 : order < 0;
    }
    return false;
  };
  std::vector<std::size_t> order(count);
  for (std::size_t i = 0; i < count; ++i) order[i] = i;
  StableMergeSort(order, less);

  std::vector<std::vector<Cell>> sorted(count);
  for (std::size_t i = 0; i < count; ++i) sorted[i] = std::move(row_at(order[i]));
  for (std::size_t i = 0; i < count; ++i) row_at(i) = std::move(sorted[i]);
}

int GridData::CellPicture(std::int64_t row, int col) const {
  if (row < 0 || row >= Rows() || col < 0 || col >= cols_) return 0;
  return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)].picture;
}

void GridData::SetCellPicture(std::int64_t row, int col, int picture) {
  if (row < 0 || row >= Rows() || col < 0 || col >= cols_) return;
  cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)].picture = picture;
}
