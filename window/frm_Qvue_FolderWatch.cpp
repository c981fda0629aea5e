// The folder-changed cue: the listed folder is watched, and when the names in
// it differ from the ones the last load listed (kept up to date through the
// window's own actions), GO turns bold and its tooltip asks for a reload.
#include <QFile>
#include <QFileSystemWatcher>
#include <QPushButton>
#include <QTimer>

#include "platform/FileSystem.h"
#include "window/frm_Qvue.h"

namespace {

// A burst of changes in the listed folder is looked at once, this long after
// its first change.
constexpr int kRecheckMilliseconds = 300;
const char* const kGoChangedToolTip = "The folder changed since it was listed: press GO to reload";

QString Shown(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace

void frm_Qvue::WatchForChanges() {
  watcher_ = new QFileSystemWatcher(this);
  recheck_ = new QTimer(this);
  recheck_->setSingleShot(true);
  recheck_->setInterval(kRecheckMilliseconds);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    // A folder moved away or deleted loses its watch: one that took its
    // place is watched from now on.
    if (watcher_->directories().isEmpty() && platform::Host().PathExists(CurrentFolder_)) {
      watcher_->addPath(Shown(CurrentFolder_));
    }
    if (!recheck_->isActive()) recheck_->start();
  });
  connect(recheck_, &QTimer::timeout, this, [this] { CheckListedFolder(); });
}

std::unordered_set<std::string> frm_Qvue::ListedNamesOnDisk() const {
  std::unordered_set<std::string> names;
  std::vector<platform::DirEntry> entries;
  platform::Host().ListFolder(CurrentFolder_, ListingFor(SelectedQueue()).FileMask, &entries);
  for (const platform::DirEntry& entry : entries) {
    if (!entry.is_directory) names.insert(entry.name);
  }
  return names;
}

void frm_Qvue::WatchListedFolder() {
  // Watched from before the listing on: a change while the folder is
  // listed is seen, one from before it is compared away. The load fills
  // listed_names_ with what it lists.
  SetFolderChanged(false);
  listed_names_.clear();
  // A watch already on this folder stays: setting one up costs the kernel a
  // walk over every entry of a large folder.
  const QStringList watched = watcher_->directories();
  if (watched == QStringList{Shown(CurrentFolder_)}) return;
  if (!watched.isEmpty()) watcher_->removePaths(watched);
  if (platform::Host().PathExists(CurrentFolder_)) watcher_->addPath(Shown(CurrentFolder_));
}

void frm_Qvue::CheckListedFolder() {
  if (loading_) {
    recheck_->start();  // the load's own listing is not complete yet
    return;
  }
  SetFolderChanged(ListedNamesOnDisk() != listed_names_);
}

void frm_Qvue::SetFolderChanged(bool changed) {
  folder_changed_ = changed;
  QFont font = cmd_GO->font();
  font.setBold(changed);
  cmd_GO->setFont(font);
  cmd_GO->setToolTip(changed ? kGoChangedToolTip : kGoToolTip);
}
