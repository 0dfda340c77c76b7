#pragma once
// What the parameter editors and the list binder share: the edit event (the
// view that was, or is about to be, edited and a flag; a handler of the
// binder's edit query clears the flag to refuse the edit) and the writing of
// a chosen value-list item.
#include "Event.h"
#include "Tlaparvaluecls.h"

using TlaParEditEvent = kd::Event<void(TlaParValue* par, bool& canedit)>;

// Writes the choice of a value-list item to the view: the maximum, the
// minimum, the default, nothing for the separator, else the code as value.
inline void SetParChoice(TlaParValue* view, int code) {
  switch (code) {
    case parCodeMax: view->SetValue(view->GetMax()); break;
    case parCodeMin: view->SetValue(view->GetMin()); break;
    case parCodeDefault: view->SetDefault(); break;
    case parCodeSeparator: break;
    default: view->SetValue(code); break;
  }
}
