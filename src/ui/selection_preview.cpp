#include "ui/selection_preview.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <utility>

#include <QAbstractListModel>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QVBoxLayout>

#include "engine/dry_run.h"

namespace chronoreel {

namespace {

namespace text = dry_run_text;

// A list of lines made as they scroll into view: a run may select hundreds of thousands of
// frames, and an item each would take seconds and a lot of memory.
class LinesModel : public QAbstractListModel {
 public:
  LinesModel(size_t count, std::function<std::string(size_t)> line, QObject* parent)
      : QAbstractListModel(parent),
        count_(static_cast<int>(std::min<size_t>(count, INT_MAX))),
        line_(std::move(line)) {}
  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : count_; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return QString::fromStdString(line_(static_cast<size_t>(index.row())));
  }

 private:
  int count_;
  std::function<std::string(size_t)> line_;
};

QLabel* Line(QWidget* parent, const char* name, const std::string& caption) {
  auto* label = new QLabel(QString::fromStdString(caption), parent);
  label->setObjectName(name);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setTextFormat(Qt::PlainText);  // a path is shown as it is, never as markup
  // A long path must not widen the window past the screen; the tip holds all of it.
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  label->setToolTip(label->text());
  return label;
}

QListView* Lines(QWidget* parent, const char* name, size_t count, std::function<std::string(size_t)> line) {
  auto* list = new QListView(parent);
  list->setObjectName(name);
  list->setUniformItemSizes(true);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  list->setModel(new LinesModel(count, std::move(line), list));
  return list;
}

}  // namespace

SelectionPreview::SelectionPreview(MovieGen::DryRunResult result, const Settings& settings, QWidget* parent)
    : QDialog(parent), result_(std::make_shared<const MovieGen::DryRunResult>(std::move(result))) {
  setObjectName("frmSelectionPreview");
  setWindowTitle("Preview Selection");
  setAttribute(Qt::WA_DeleteOnClose);
  setSizeGripEnabled(true);
  const MovieGen::DryRunResult& r = *result_;
  const std::shared_ptr<const MovieGen::DryRunResult> held = result_;  // for the lists' lines
  const bool frames = r.end == MovieGen::DryRunResult::End::Frames && !r.frame_paths.empty();

  auto* layout = new QVBoxLayout(this);
  QLabel* heading = Line(this, "lblHeading", text::kHeading);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  layout->addWidget(heading);
  layout->addWidget(Line(this, "lblStillsFound", text::StillsFound(r.stills_found)));
  if (frames) {
    layout->addWidget(Line(this, "lblFrames", text::Frames(r.frame_paths, settings.output)));
    layout->addWidget(Line(this, "lblMovieLength", text::MovieLength(r.frame_paths.size(), settings.fps)));
    if (!text::Direction(r.direction).empty())
      layout->addWidget(Line(this, "lblDirection", text::Direction(r.direction)));
    layout->addWidget(Line(this, "lblFirstFrame",
                           "First frame: " + text::FrameText(r.frame_times.front(), r.frame_paths.front())));
    layout->addWidget(Line(this, "lblLastFrame",
                           "Last frame: " + text::FrameText(r.frame_times.back(), r.frame_paths.back())));
    layout->addWidget(Lines(this, "lstFrames", r.frame_paths.size(),
                            [held](size_t i) {
                              return text::FrameLine(i + 1, held->frame_times[i], held->frame_paths[i]);
                            }),
                      3);
  } else {
    QLabel* end = Line(this, "lblEnd", r.reason);
    end->setWordWrap(true);
    end->setFont(bold);
    layout->addWidget(end);
  }
  // As in a run, the clean-up is looked at only when it is on.
  if (settings.delete_old_images) {
    layout->addWidget(Line(this, "lblWouldDelete", text::WouldDelete(r.would_delete.size())));
    if (!r.would_delete.empty()) {
      layout->addWidget(Lines(this, "lstWouldDelete", r.would_delete.size(),
                              [held](size_t i) { return held->would_delete[i]; }),
                        1);
    }
  }
  QLabel* command = Line(this, "lblCommand", text::CommandAfterwards(r.command));
  command->setWordWrap(true);
  layout->addWidget(command);
  if (!frames) layout->addStretch();

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setObjectName("cmdClose");
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  QSize size(720, frames ? 560 : sizeHint().height());
  if (parent != nullptr && parent->screen() != nullptr)
    size = size.boundedTo(parent->screen()->availableGeometry().size());
  resize(size);
}

MovieGen::DryRunResult DryRunWithWaitCursor(MovieGen& movie) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
  return movie.DryRun();
}

SelectionPreview* SelectionPreview::Open(MovieGen& movie, QWidget* parent) {
  MovieGen::DryRunResult result = DryRunWithWaitCursor(movie);
  auto* preview = new SelectionPreview(
      std::move(result), {movie.OutputAVIPath(), movie.RunFPS(), movie.DeleteOldImages()}, parent);
  // A new report takes the place, and the size, of the one before it.
  const auto earlier_ones = parent != nullptr
                                ? parent->findChildren<SelectionPreview*>(Qt::FindDirectChildrenOnly)
                                : QList<SelectionPreview*>();
  for (SelectionPreview* earlier : earlier_ones) {
    if (earlier == preview) continue;
    if (earlier->isVisible()) preview->setGeometry(earlier->geometry());
    delete earlier;
  }
  preview->show();
  preview->raise();
  preview->activateWindow();
  return preview;
}

}  // namespace chronoreel
