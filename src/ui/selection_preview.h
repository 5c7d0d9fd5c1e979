#pragma once
// frmSelectionPreview: what "Make Movie" would do with the settings as they stand, from a dry
// run: the frames and the movie's length, the stills the clean-up would delete and the
// command afterwards; or why the run would end early. Nothing is written, deleted or started.
#include <QDialog>
#include <memory>
#include <string>

#include "engine/movie_gen.h"

namespace chronoreel {

// The dry run under a wait cursor: its scan of a large folder takes a while.
MovieGen::DryRunResult DryRunWithWaitCursor(MovieGen& movie);

class SelectionPreview : public QDialog {
  Q_OBJECT
 public:
  // What the report says beside the dry run's own result: the settings it ran with.
  struct Settings {
    std::string output;
    int32_t fps = 0;
    bool delete_old_images = false;
  };
  SelectionPreview(MovieGen::DryRunResult result, const Settings& settings, QWidget* parent);

  // Runs the dry run (with a wait cursor: the scan of a large folder takes a moment) and
  // shows its report over `parent`, in place of an earlier report there.
  static SelectionPreview* Open(MovieGen& movie, QWidget* parent);

 private:
  // Shared with the lists, which read their lines from it as they scroll.
  std::shared_ptr<const MovieGen::DryRunResult> result_;
};

}  // namespace chronoreel
