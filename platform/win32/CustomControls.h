#pragma once
// The five control classes of the main window: subclassed standard controls
// that turn mouse and keyboard events into private messages to the main window.
#include <windows.h>

#include "app/ControlTable.h"

namespace veldrix {

// Whether a typed character gets into an edit field with this filter.
bool AcceptsChar(CharFilter filter, wchar_t ch);
// Where MSG_FOCUS_NEXT moves the focus from this field; 0 when it has no fixed successor.
int FocusSuccessor(int id);
// Gives a freshly created control the behaviour of its class.
void AttachControlClass(HWND control, const ControlDef& def);
// The locked flag a button keeps (MSG_BUSY_STATE, Enter).
bool IsButtonLocked(HWND button);

}  // namespace veldrix
