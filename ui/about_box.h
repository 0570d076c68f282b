// The About box (template 191): the product's name, its version, the OpenGL
// version the preview uses, the instruction manual, the Options dialog and
// links to the maker's pages. The host opens it through the about selector,
// the main dialog from its logo and its "Help and Support" button.
//
// User-interface thread only.
#pragma once

#include <windows.h>

// Runs the box modally over `owner` (may be null) and returns its end code:
// 1 for OK, 0 for Cancel or Esc, -1 when it could not be made (reported).
// Without a preview context it makes and destroys a hidden OpenGL context
// while it initialises, to learn the version. The accelerator table is loaded
// from `instance` once per process; nothing is left for the caller to free.
INT_PTR ShowAboutBox(HINSTANCE instance, HWND owner);
