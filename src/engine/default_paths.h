#pragma once
// Where the stills are looked for and the movie is written when nothing says otherwise.
#include <string>

namespace chronoreel {

// On Windows "c:\images\" and "c:\mymovie.avi", as ever. Elsewhere the user's pictures
// folder and "timelapse.avi" in the user's videos folder: XDG_PICTURES_DIR and
// XDG_VIDEOS_DIR of user-dirs.dirs (in $XDG_CONFIG_HOME, else ~/.config), else ~/Pictures
// and ~/Videos. Read anew at each call, so that a changed HOME is followed.
std::string DefaultStillDirectory();
std::string DefaultOutputAVIPath();
// A setup file without the key: the same folder, on Windows "c:\images" without the final
// backslash.
std::string FileStillDirectory();

}  // namespace chronoreel
