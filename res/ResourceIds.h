// Numeric resource ids of the program and the one way to get the pictures.
//
// Every picture is drawn by this project's own code (res/Pictures.cpp) the
// first time it is asked for and kept for the life of the process. Ask only
// from the interface thread, after the QGuiApplication exists.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace velmora {

enum ResourceId : int {
  IDD_ABOUTBOX = 100,           // About dialog
  IDR_MAINFRAME = 128,          // program icon and main menu
  IDR_POPUP_LOOKS = 200,        // look menu (attached to no bar)
  IDB_TOOLBAR_PICTURES = 310,   // strip of the three toolbar pictures with captions
  IDR_TOOLBAR_STANDARD = 312,   // toolbar: Open, Save, Help
  IDD_SAVE_DESTINATION = 315,   // save destination dialog
  IDB_TREE_IMAGES = 316,        // six 16x16 tree images side by side
  IDB_TOOLBAR_BANNER = 334,     // 568x54 banner at the right end of the main toolbar
  IDD_SAVING_PROCESS = 336,     // saving progress dialog
  IDR_SAVING_ANIMATION = 337,   // 22 frames, 60x60, 62.5 ms each
  IDD_COMPLETION_REPORT = 338,  // completion report dialog
  IDB_ABOUT_PICTURE = 345,      // 337x321 background of the About dialog
};

// Sizes the pictures are drawn at.
inline constexpr int kToolbarPictureSize = 50;  // each of the three pictures of 310 is 50x50
inline constexpr int kToolbarPictureCount = 3;  // Open, Save, Help
inline constexpr int kTreeImageSize = 16;
inline constexpr int kTreeImageCount = 6;
inline constexpr int kBannerWidth = 568, kBannerHeight = 54;
inline constexpr int kAboutWidth = 337, kAboutHeight = 321;
inline constexpr int kAnimationFrames = 22;
inline constexpr int kAnimationSize = 60;
inline constexpr int kAnimationFrameMicroseconds = 62500;

// Indexes into the tree images (bitmap 316).
enum TreeImage : int {
  kTreeImageDatabase = 0,  // database drum: the root item
  kTreeImageObject = 1,    // small window with list lines: tables, indexes, views, triggers
  kTreeImageFolder = 2,    // folder: the four categories
  kTreeImageQuestion = 3,
  kTreeImageEquals = 4,
  kTreeImageComment = 5,
};

// Indexes into the toolbar pictures (bitmap 310), in button order.
enum ToolbarPicture : int { kToolbarOpen = 0, kToolbarSave = 1, kToolbarHelp = 2 };

// The bitmap `id` (310, 316, 334, 345); a null pixmap for any other id.
// Pictures have an alpha channel: no colour needs to be masked out.
QPixmap LoadBitmap(int id);

// The icon `id` (128, drawn at 16 to 256 pixels); a null icon for any other id.
QIcon LoadIcon(int id);

// One 50x50 picture of the toolbar strip (caption drawn in); null when out of range.
QPixmap ToolbarPicture(int index);

// One 16x16 tree image; null when out of range.
QPixmap TreeImage(int index);

// Frame `frame` (0..21) of the saving animation, 60x60 with a transparent
// background; null when out of range.
QImage AnimationFrame(int frame);

}  // namespace velmora
