// Names for assistive technology (Active Accessibility). A window of ours
// that gives a name answers the system's accessibility query (WM_GETOBJECT
// for its client area) with the platform's standard object for it, which
// screen readers already understand, but with that name (and, where given,
// that role): a picture button is read by its tooltip, an edit field by its
// label, the popup by its message.
#pragma once

#include <windows.h>

#include <string>

namespace zelt {

// The answer to WM_GETOBJECT(wp, lp) for `hwnd`: true with the object in
// `result` when lp asks for the client area and a name is given; false
// leaves the message to the window's own handling. `role` 0 keeps the
// standard object's role.
bool AnswerAccessibleObject(HWND hwnd, WPARAM wp, LPARAM lp, const std::wstring& name, long role, LRESULT& result);

// Tells assistive technology that a window has just shown something to read
// at once (the popup): a system alert event for its client area.
void AnnounceAlert(HWND hwnd);

}  // namespace zelt
